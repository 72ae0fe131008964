#pragma once

#include <QString>

#include <cstdint>

namespace goldmine {

// The GoldMine API as the program calls it: one method per GMW_ function of
// gm7s32.h, taking the program's text. Text becomes local 8-bit text at this
// boundary. Tests put fault-injecting doubles in its place.
class GoldMineApi
{
public:
    virtual ~GoldMineApi();

    virtual int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir,
                                const QString &commonDir, const QString &userName,
                                const QString &password) = 0;
    // Passes the SQL text and three null strings.
    virtual int32_t GMW_DS_Query(const QString &sql) = 0;
    virtual int32_t GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count) = 0;
    virtual int32_t GMW_DS_Close(int32_t handle) = 0;
    virtual int32_t GMW_NV_Create() = 0;
    virtual int32_t GMW_NV_SetValue(int32_t container, const QString &name,
                                    const QString &value) = 0;
    virtual int32_t GMW_NV_AppendNvValue(int32_t container, const QString &name,
                                         int32_t nested) = 0;
    // The value read back, already turned into text with PtrToString.
    virtual QString GMW_NV_GetValue(int32_t container, const QString &name,
                                    const QString &defaultValue) = 0;
    virtual int32_t GMW_NV_EraseAll(int32_t container) = 0;
    virtual int32_t GMW_NV_Delete(int32_t container) = 0;
    virtual int32_t GMW_Execute(const QString &callName, int32_t container) = 0;

    // Whether text loses characters on its way into the API's 8-bit text
    // (a code page that cannot hold them); never on this platform's UTF-8.
    virtual bool losesCharacters(const QString & /*text*/) const { return false; }

    // Why the last GMW_LoadBDE failed, in the implementation's own words (the
    // library or function that could not be found, the file that could not
    // be read), or "" when it has nothing to add. GoldMine's API has no such
    // call, so the default knows nothing.
    virtual QString loadFailureReason() const;

    // Empty while the API serves calls. Once the API's process has stopped
    // (the bridge died inside GoldMine's library), a sentence that starts
    // "The GoldMine API stopped" and gives the reason; every call since then
    // has failed with a negative result.
    virtual QString stoppedReason() const { return {}; }
};

} // namespace goldmine
