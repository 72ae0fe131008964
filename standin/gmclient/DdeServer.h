#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

class QSocketNotifier;

// The server end of the local-socket DDE conversation for one application and
// topic: answers requests for a fixed set of items (names compared without
// regard to case, as DDE does) and an error for any other item. Connections
// from another user are closed unanswered.
//
// It stays up under pressure. Each connection is read one request at a time
// and not at all while its answer is unsent, so a client that sends without
// reading is held back by its own socket, and what the server keeps for a
// connection is one request and one answer at most. It holds at most
// kMostConnections; past that, and when the process runs out of file
// descriptors, it sheds the connection that has waited longest for a request.
// A connection that sends no whole request, or does not take its answer,
// within the DDE time-out is closed.
class DdeServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMostConnections = 64;

    explicit DdeServer(const QHash<QString, QString> &items, QObject *parent = nullptr);
    ~DdeServer() override;

    // Claims the socket for application and topic in the user's private
    // directory. Fails when another server holds it.
    bool listen(const QString &application, const QString &topic, QString *error);
    QString socketPath() const { return m_socketPath; }
    // Stops listening and removes the socket file.
    void close();

private:
    class Connection;

    void acceptConnections();
    // Makes room for one more connection; false when none could be shed.
    bool shedOldestIdle();
    // The descriptors held back for when the process has run out; false
    // when there were none to let go.
    bool releaseReserve();
    void takeReserve();
    void drop(Connection *connection);
    // The connection's complete request, answered.
    void answer(Connection *connection, const QByteArray &request);
    QString answerFor(const QString &item, bool *known) const;

    QHash<QString, QString> m_items; // keys lower-cased
    QString m_socketPath;
    int m_lockFd = -1;
    int m_listenFd = -1;
    // Two descriptors (a pipe) held in reserve. When the process has run out,
    // letting them go leaves room to work: to accept a connection and close
    // it at once when nothing can be shed (else the waiting connection would
    // wake the loop forever), and for whatever the libraries we call (and the
    // sanitizers of a test build) open on the way.
    int m_reserve[2] = {-1, -1};
    QSocketNotifier *m_acceptNotifier = nullptr;
    QTimer m_acceptRetry;
    std::vector<Connection *> m_connections; // owned; oldest first
};
