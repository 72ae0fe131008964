#pragma once

#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <QString>

class QLocalSocket;

// The server end of the local-socket DDE conversation for one application and
// topic: answers requests for a fixed set of items (names compared without
// regard to case, as DDE does) and an error for any other item. Connections
// from another user are closed unanswered.
class DdeServer : public QObject
{
    Q_OBJECT

public:
    explicit DdeServer(QHash<QString, QString> items, QObject *parent = nullptr);
    ~DdeServer() override;

    // Claims the socket for application and topic in the user's private
    // directory. Fails when another server holds it.
    bool listen(const QString &application, const QString &topic, QString *error);
    QString socketPath() const { return m_socketPath; }
    // Stops listening and removes the socket file.
    void close();

private:
    void acceptConnections();
    class Connection;
    void readRequests(QLocalSocket *socket, Connection *connection);
    QString answerFor(const QString &item, bool *known) const;

    QHash<QString, QString> m_items; // keys lower-cased
    QLocalServer m_server;
    QString m_socketPath;
    int m_lockFd = -1;
};
