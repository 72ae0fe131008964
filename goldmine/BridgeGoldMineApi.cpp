#include "goldmine/BridgeGoldMineApi.h"

#include "bridge/Client.h"
#include "goldmine/ApiText.h"
#include "util/StringFunctions.h"

#include <QFile>

#include <string_view>
#include <vector>

namespace goldmine {

namespace {

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

std::string nativePath(const QString &path)
{
    // The client takes UTF-8 on Windows and the file system's bytes elsewhere.
#ifdef _WIN32
    return path.toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

// API text that is wiped when it goes out of scope.
class SecretText
{
public:
    explicit SecretText(const QString &text)
        : m_bytes(toApiText(text).bytes)
    {}
    ~SecretText() { m_bytes.fill('\0'); }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    std::string_view bytes() const { return view(m_bytes); }

private:
    QByteArray m_bytes;
};

} // namespace

BridgeGoldMineApi::BridgeGoldMineApi(const QString &bridgePath, const QString &libraryPath)
{
    std::vector<std::string> arguments;
    if (!libraryPath.isEmpty())
        arguments = {"--library", nativePath(libraryPath)};
    m_client = std::make_unique<bridge::Client>(nativePath(bridgePath), std::move(arguments));
}

BridgeGoldMineApi::~BridgeGoldMineApi() = default;

int32_t BridgeGoldMineApi::GMW_LoadBDE(const QString &sysDir, const QString &goldDir,
                                       const QString &commonDir, const QString &userName,
                                       const QString &password)
{
    m_loadFailureReason.clear();
    const SecretText secret(password);
    const int32_t result = m_client->loadBDE(
        view(toApiText(sysDir).bytes), view(toApiText(goldDir).bytes),
        view(toApiText(commonDir).bytes), view(toApiText(userName).bytes), secret.bytes());
    if (result >= 0)
        return result;
    // Why, as far as anyone can say: the bridge that did not run, the library
    // that did not load, or what the library itself reports.
    if (!m_client->stoppedReason().empty()) {
        m_loadFailureReason = stoppedReason();
    } else if (!m_client->bindError().empty()) {
        m_loadFailureReason = lastBindError();
    } else if (const std::optional<std::string> reason = m_client->loadFailureReason()) {
        m_loadFailureReason = util::PtrToString(reason->c_str());
    }
    return result;
}

QString BridgeGoldMineApi::loadFailureReason() const
{
    return m_loadFailureReason;
}

int32_t BridgeGoldMineApi::GMW_DS_Query(const QString &sql)
{
    return m_client->dsQuery(view(toApiText(sql).bytes));
}

int32_t BridgeGoldMineApi::GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    return m_client->dsFetch(handle, buffer, size, count);
}

int32_t BridgeGoldMineApi::GMW_DS_Close(int32_t handle)
{
    return m_client->dsClose(handle);
}

int32_t BridgeGoldMineApi::GMW_NV_Create()
{
    return m_client->nvCreate();
}

int32_t BridgeGoldMineApi::GMW_NV_SetValue(int32_t container, const QString &name,
                                           const QString &value)
{
    return m_client->nvSetValue(container, view(toApiText(name).bytes),
                                view(toApiText(value).bytes));
}

int32_t BridgeGoldMineApi::GMW_NV_AppendNvValue(int32_t container, const QString &name,
                                                int32_t nested)
{
    return m_client->nvAppendNvValue(container, view(toApiText(name).bytes), nested);
}

QString BridgeGoldMineApi::GMW_NV_GetValue(int32_t container, const QString &name,
                                           const QString &defaultValue)
{
    const std::optional<std::string> value = m_client->nvGetValue(
        container, view(toApiText(name).bytes), view(toApiText(defaultValue).bytes));
    return value ? util::PtrToString(value->c_str()) : QString();
}

int32_t BridgeGoldMineApi::GMW_NV_EraseAll(int32_t container)
{
    return m_client->nvEraseAll(container);
}

int32_t BridgeGoldMineApi::GMW_NV_Delete(int32_t container)
{
    return m_client->nvDelete(container);
}

int32_t BridgeGoldMineApi::GMW_Execute(const QString &callName, int32_t container)
{
    return m_client->execute(view(toApiText(callName).bytes), container);
}

QString BridgeGoldMineApi::stoppedReason() const
{
    return QString::fromUtf8(m_client->stoppedReason());
}

QString BridgeGoldMineApi::lastBindError() const
{
    return QString::fromLocal8Bit(m_client->bindError());
}

qint64 BridgeGoldMineApi::bridgeProcessId() const
{
    return m_client->processId();
}

bool BridgeGoldMineApi::losesCharacters(const QString &text) const
{
    return losesApiCharacters(text);
}

} // namespace goldmine
