#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/gm7s32.h"

#include <QLibrary>
#include <QString>

namespace goldmine {

// The GoldMine API bound by name from the library "gm7s32": the copy next to
// the executable first, otherwise the one the system's library path finds.
// Each function is resolved at its first call. A missing library or function
// makes GMW_LoadBDE answer kMissingLibrary and every other call a negative
// result or empty text. The library stays loaded until the process ends.
// Where the library explains a failed load (the stand-in's
// GM7S32_LoadFailureReason; GoldMine's own library cannot), that explanation
// is kept for loadFailureReason().
class LibraryGoldMineApi : public GoldMineApi
{
public:
    // Not one of the reason codes the library itself gives, so it is reported
    // as the plain "cannot load" reason.
    static constexpr int32_t kMissingLibrary = -2;
    static constexpr int32_t kMissingFunction = -1;

    LibraryGoldMineApi();
    // Binds the library at an explicit path (tests, other installations).
    explicit LibraryGoldMineApi(const QString &libraryPath);

    int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                        const QString &userName, const QString &password) override;
    int32_t GMW_DS_Query(const QString &sql) override;
    int32_t GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count) override;
    int32_t GMW_DS_Close(int32_t handle) override;
    int32_t GMW_NV_Create() override;
    int32_t GMW_NV_SetValue(int32_t container, const QString &name, const QString &value) override;
    int32_t GMW_NV_AppendNvValue(int32_t container, const QString &name, int32_t nested) override;
    QString GMW_NV_GetValue(int32_t container, const QString &name,
                            const QString &defaultValue) override;
    int32_t GMW_NV_EraseAll(int32_t container) override;
    int32_t GMW_NV_Delete(int32_t container) override;
    int32_t GMW_Execute(const QString &callName, int32_t container) override;
    // On Windows: characters the ANSI code page cannot hold.
    bool losesCharacters(const QString &text) const override;
    // Why the library or GMW_LoadBDE could not be bound, else what the
    // library said about the last failed load.
    QString loadFailureReason() const override;

    // Why the latest binding failed ("" when every binding so far succeeded).
    QString lastBindError() const { return m_lastBindError; }
    // The library file that was (or will be) loaded.
    QString libraryFileName() const { return m_library.fileName(); }

private:
    template <typename Function> Function bind(Function &slot, const char *name);

    QLibrary m_library;
    bool m_loadTried = false;
    QString m_lastBindError;
    QString m_loadFailureReason;

    struct Functions
    {
        GMW_LoadBDE_Fn loadBde = nullptr;
        GMW_DS_Query_Fn dsQuery = nullptr;
        GMW_DS_Fetch_Fn dsFetch = nullptr;
        GMW_DS_Close_Fn dsClose = nullptr;
        GMW_NV_Create_Fn nvCreate = nullptr;
        GMW_NV_SetValue_Fn nvSetValue = nullptr;
        GMW_NV_AppendNvValue_Fn nvAppendNvValue = nullptr;
        GMW_NV_GetValue_Fn nvGetValue = nullptr;
        GMW_NV_EraseAll_Fn nvEraseAll = nullptr;
        GMW_NV_Delete_Fn nvDelete = nullptr;
        GMW_Execute_Fn execute = nullptr;
    } m_functions;
};

} // namespace goldmine
