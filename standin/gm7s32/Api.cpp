// The exported C functions. Every call is guarded: no exception leaves the
// library, and bad handles, null pointers and calls before a successful load
// answer a negative result (the default text for GMW_NV_GetValue).
#include "goldmine/gm7s32.h"

#include "Containers.h"
#include "Session.h"
#include "Store.h"

#include <limits>
#include <memory>

namespace gm7s32 {

namespace {

// The library's whole state: the containers and the open store.
class Library
{
public:
    ContainerRegistry containers;
    std::unique_ptr<Session> session;
    std::string loadFailureReason; // of the last GMW_LoadBDE

    // Query handles count up across reloads, so a handle of a closed store
    // never names a query of the next one.
    int32_t nextQueryHandle()
    {
        const int32_t handle = m_nextQuery;
        m_nextQuery = m_nextQuery == std::numeric_limits<int32_t>::max() ? 1 : m_nextQuery + 1;
        return handle;
    }

private:
    int32_t m_nextQuery = 1;
};

Library &library()
{
    static Library instance;
    return instance;
}

template <typename Result, typename Call> Result guarded(Result failure, Call call) noexcept
{
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

} // namespace

} // namespace gm7s32

using gm7s32::guarded;
using gm7s32::library;

extern "C" {

GMW_EXPORT int32_t GMW_CALL GMW_LoadBDE(const char *sysDir, const char *goldDir,
                                        const char *commonDir, const char *userName,
                                        const char *password)
{
    return guarded(gm7s32::kLoadCannotStart, [&]() -> int32_t {
        // A new load replaces the old store; a failed one leaves none open.
        library().session.reset();
        library().loadFailureReason.clear();
        return gm7s32::Session::open(sysDir, goldDir, commonDir, userName, password,
                                     &library().session, &library().loadFailureReason);
    });
}

GMW_EXPORT const char *GMW_CALL GM7S32_LoadFailureReason(void)
{
    return library().loadFailureReason.c_str();
}

GMW_EXPORT int32_t GMW_CALL GMW_DS_Query(const char *sql, const char *, const char *, const char *)
{
    return guarded(gm7s32::kQueryError, [&]() -> int32_t {
        if (!library().session)
            return gm7s32::kQueryNotLoaded;
        return library().session->query(sql, library().nextQueryHandle());
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    return guarded(gm7s32::kFetchFailed, [&]() -> int32_t {
        if (!library().session)
            return gm7s32::kFetchBadHandle;
        return library().session->fetch(handle, buffer, size, count);
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_DS_Close(int32_t handle)
{
    return guarded(gm7s32::kBadHandle, [&]() -> int32_t {
        if (!library().session || !library().session->close(handle))
            return gm7s32::kBadHandle;
        return 0;
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_NV_Create(void)
{
    return guarded(gm7s32::kBadHandle, [&] { return library().containers.create(); });
}

GMW_EXPORT int32_t GMW_CALL GMW_NV_SetValue(int32_t container, const char *name, const char *value)
{
    return guarded(gm7s32::kBadArgument, [&]() -> int32_t {
        gm7s32::Container *target = library().containers.find(container);
        if (!target)
            return gm7s32::kBadHandle;
        if (!name || !*name || !value)
            return gm7s32::kBadArgument;
        target->set(name, value);
        return 0;
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_NV_AppendNvValue(int32_t container, const char *name,
                                                 int32_t nested)
{
    return guarded(gm7s32::kBadArgument, [&]() -> int32_t {
        gm7s32::Container *target = library().containers.find(container);
        const gm7s32::Container *source = library().containers.find(nested);
        if (!target || !source)
            return gm7s32::kBadHandle;
        if (!name || !*name)
            return gm7s32::kBadArgument;
        target->setNested(name, *source);
        return 0;
    });
}

GMW_EXPORT const char *GMW_CALL GMW_NV_GetValue(int32_t container, const char *name,
                                                const char *defaultValue)
{
    return guarded(defaultValue, [&]() -> const char * {
        const gm7s32::Container *source = library().containers.find(container);
        if (!source || !name)
            return defaultValue;
        const gm7s32::Container::Entry *entry = source->find(name);
        if (!entry || entry->nested)
            return defaultValue;
        return entry->text.c_str();
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_NV_EraseAll(int32_t container)
{
    return guarded(gm7s32::kBadHandle, [&]() -> int32_t {
        gm7s32::Container *target = library().containers.find(container);
        if (!target)
            return gm7s32::kBadHandle;
        target->clear();
        return 0;
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_NV_Delete(int32_t container)
{
    return guarded(gm7s32::kBadHandle, [&]() -> int32_t {
        return library().containers.remove(container) ? 0 : gm7s32::kBadHandle;
    });
}

GMW_EXPORT int32_t GMW_CALL GMW_Execute(const char *callName, int32_t container)
{
    return guarded(gm7s32::kExecDatabaseError, [&]() -> int32_t {
        if (!library().session)
            return gm7s32::kExecNotLoaded;
        gm7s32::Container *target = library().containers.find(container);
        if (!target)
            return gm7s32::kExecBadContainer;
        if (!callName)
            return gm7s32::kExecUnknownCall;
        return library().session->execute(callName, *target);
    });
}

} // extern "C"
