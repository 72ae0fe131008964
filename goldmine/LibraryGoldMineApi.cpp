#include "goldmine/LibraryGoldMineApi.h"

#include "goldmine/ApiText.h"
#include "util/SecretText.h"
#include "util/StringFunctions.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace goldmine {

namespace {

QString defaultLibraryPath()
{
    if (QCoreApplication::instance()) {
        // Beside the program in a build tree; in Ruvelo's private library
        // folder once installed.
        const QString programDir = QCoreApplication::applicationDirPath();
        for (const QString &candidate :
             {programDir + QStringLiteral("/libgm7s32.so"),
              programDir + QStringLiteral("/" RUVELO_PRIVATE_LIBDIR_FROM_BIN "/libgm7s32.so")}) {
            if (QFileInfo::exists(candidate))
                return candidate;
        }
    }
    return QStringLiteral("gm7s32");
}

// Local 8-bit text that is wiped when it goes out of scope; the only buffer
// that ever holds it.
class SecretText
{
public:
    explicit SecretText(const QString &text)
    {
#ifdef Q_OS_WIN
        m_bytes = toApiText(text).bytes; // the ANSI code page, never best-fit
#else
        m_bytes.reserve(text.size() * 3 + 1);
        util::appendSecretLocal8Bit(text, m_bytes);
#endif
    }
    ~SecretText()
    {
        util::wipe(m_bytes);
    }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    const char *data() const
    {
        return m_bytes.constData();
    }

private:
    QByteArray m_bytes;
};

} // namespace

LibraryGoldMineApi::LibraryGoldMineApi()
    : LibraryGoldMineApi(defaultLibraryPath())
{}

LibraryGoldMineApi::LibraryGoldMineApi(const QString &libraryPath)
    : m_library(libraryPath)
{}

template <typename Function> Function LibraryGoldMineApi::bind(Function &slot, const char *name)
{
    if (slot)
        return slot;
    if (!m_loadTried) {
        m_loadTried = true;
        if (!m_library.load()) {
            m_lastBindError = m_library.errorString();
            return nullptr;
        }
    }
    if (!m_library.isLoaded())
        return nullptr;
    slot = reinterpret_cast<Function>(m_library.resolve(name));
    if (!slot) {
        m_lastBindError =
            QStringLiteral("%1 has no function %2").arg(m_library.fileName(), QLatin1String(name));
    }
    return slot;
}

int32_t LibraryGoldMineApi::GMW_LoadBDE(const QString &sysDir, const QString &goldDir,
                                        const QString &commonDir, const QString &userName,
                                        const QString &password)
{
    m_loadFailureReason.clear();
    const auto function = bind(m_functions.loadBde, "GMW_LoadBDE");
    if (!function) {
        m_loadFailureReason = m_lastBindError;
        return kMissingLibrary;
    }
    const SecretText secret(password);
    const int32_t result =
        function(toApiText(sysDir).bytes.constData(), toApiText(goldDir).bytes.constData(),
                 toApiText(commonDir).bytes.constData(), toApiText(userName).bytes.constData(),
                 secret.data());
    if (result < 0) {
        // Only the stand-in has this; its absence is no failure.
        const auto reason = reinterpret_cast<GM7S32_LoadFailureReason_Fn>(
            m_library.resolve("GM7S32_LoadFailureReason"));
        if (reason)
            m_loadFailureReason = util::PtrToString(reason());
    }
    return result;
}

QString LibraryGoldMineApi::loadFailureReason() const
{
    return m_loadFailureReason;
}

int32_t LibraryGoldMineApi::GMW_DS_Query(const QString &sql)
{
    const auto function = bind(m_functions.dsQuery, "GMW_DS_Query");
    if (!function)
        return kMissingFunction;
    return function(toApiText(sql).bytes.constData(), nullptr, nullptr, nullptr);
}

int32_t LibraryGoldMineApi::GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    const auto function = bind(m_functions.dsFetch, "GMW_DS_Fetch");
    if (!function)
        return kMissingFunction;
    return function(handle, buffer, size, count);
}

int32_t LibraryGoldMineApi::GMW_DS_Close(int32_t handle)
{
    const auto function = bind(m_functions.dsClose, "GMW_DS_Close");
    if (!function)
        return kMissingFunction;
    return function(handle);
}

int32_t LibraryGoldMineApi::GMW_NV_Create()
{
    const auto function = bind(m_functions.nvCreate, "GMW_NV_Create");
    if (!function)
        return kMissingFunction;
    return function();
}

int32_t LibraryGoldMineApi::GMW_NV_SetValue(int32_t container, const QString &name,
                                            const QString &value)
{
    const auto function = bind(m_functions.nvSetValue, "GMW_NV_SetValue");
    if (!function)
        return kMissingFunction;
    return function(container, toApiText(name).bytes.constData(),
                    toApiText(value).bytes.constData());
}

int32_t LibraryGoldMineApi::GMW_NV_AppendNvValue(int32_t container, const QString &name,
                                                 int32_t nested)
{
    const auto function = bind(m_functions.nvAppendNvValue, "GMW_NV_AppendNvValue");
    if (!function)
        return kMissingFunction;
    return function(container, toApiText(name).bytes.constData(), nested);
}

QString LibraryGoldMineApi::GMW_NV_GetValue(int32_t container, const QString &name,
                                            const QString &defaultValue)
{
    const auto function = bind(m_functions.nvGetValue, "GMW_NV_GetValue");
    if (!function)
        return QString();
    // The default's bytes must outlive the call: the library may hand back
    // their very address.
    const QByteArray defaultBytes = toApiText(defaultValue).bytes;
    return util::PtrToString(
        function(container, toApiText(name).bytes.constData(), defaultBytes.constData()));
}

int32_t LibraryGoldMineApi::GMW_NV_EraseAll(int32_t container)
{
    const auto function = bind(m_functions.nvEraseAll, "GMW_NV_EraseAll");
    if (!function)
        return kMissingFunction;
    return function(container);
}

int32_t LibraryGoldMineApi::GMW_NV_Delete(int32_t container)
{
    const auto function = bind(m_functions.nvDelete, "GMW_NV_Delete");
    if (!function)
        return kMissingFunction;
    return function(container);
}

int32_t LibraryGoldMineApi::GMW_Execute(const QString &callName, int32_t container)
{
    const auto function = bind(m_functions.execute, "GMW_Execute");
    if (!function)
        return kMissingFunction;
    return function(toApiText(callName).bytes.constData(), container);
}

bool LibraryGoldMineApi::losesCharacters(const QString &text) const
{
    return losesApiCharacters(text);
}

} // namespace goldmine
