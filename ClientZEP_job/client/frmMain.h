#pragma once

#include "Clock.h"
#include "CommandInterpreter.h"
#include "ContactList.h"
#include "ContactTree.h"
#include "JobBot.h"
#include "MessengerSession.h"
#include "TcpKeepAlive.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Timer intervals of the main window in ms. Tests may shorten them; the program never does.
struct FormIntervals {
    int logoutSensor = 30000;
    int autoLogin = 30000;
    int schedule = 60000;
    int work = 1000;
    // The messenger connection's bounds for noticing a peer that vanished without closing.
    TcpKeepAlive::Bounds keepAlive = TcpKeepAlive::Default;
};

// The main window as a model: its captions and labels and the contact tree, composing the messenger session
// (socket `SckChat`, login, keep-alive and reconnect timers) and the bot's decisions (commands, the schedule
// and work timers, reports). Its handlers keep the window's names and hand on to those two. It owns no
// widget; a view mirrors it through its signals.
class frmMain : public QObject {
    Q_OBJECT
public:
    using Intervals = FormIntervals;

    using SocketState = MessengerSession::SocketState;
    using enum MessengerSession::SocketState;

    explicit frmMain(quint16 messengerPort, Intervals intervals = Intervals(),
                     const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~frmMain() override;

    // Window handlers.
    void Form_Load();
    void Form_Unload();
    void cmdClose_Click();
    void cmdSend_Click(int index);
    // "test2": the DB backup report for the administrator, at any time.
    void cmdTest_Click() { bot_.cmdTest_Click(); }
    void mnuFile_Exit_Click();

    // Who may start the jobs of the chat commands, as start-up read deployment.ini; every user until set.
    void setCommandUsers(const CommandRights& users) { bot_.setCommandUsers(users); }
    // The bot account the login sends, as start-up read deployment.ini; the program's own until set.
    void setLogin(const QString& id, const QString& password) { session_.setLogin(id, password); }

    void InitUserTree();
    void StopConnection(bool keepWindows);

    // Send path: a packet to `target`. A failure is logged and the packet lost.
    void SockSendData(int code, const QString& body, const QString& target) {
        (void)session_.SockSendData(code, body, target);
    }
    void SendChatMessage(const QString& target, const QString& text, int code);

    // Connection keeping, in the session; its packets come back to the handlers below.
    void ConnectServer() { session_.ConnectServer(); }
    void SckChat_Connect() { session_.SckChat_Connect(); }
    void SckChat_DataArrival() { session_.SckChat_DataArrival(); }
    // What SckChat_DataArrival does with the bytes it read: buffer them and dispatch every complete packet.
    void SckChat_Receive(const QByteArray& bytes) { session_.SckChat_Receive(bytes); }
    void SckChat_Error(int number, const QString& description) {
        session_.SckChat_Error(number, description);
    }
    void SckChat_Close() { session_.SckChat_Close(); }
    void ResetConnection() { session_.ResetConnection(); }
    void StartAutoLogin() { session_.StartAutoLogin(); }
    void tmrLogoutSensor_Timer() { session_.tmrLogoutSensor_Timer(); }
    void trmAutoLogin_Timer() { session_.trmAutoLogin_Timer(); }
    void tmrWork_Timer() { bot_.tmrWork_Timer(); }
    // The daily schedule, once a minute while logged in with the contact list.
    void tmrSchedule_Timer() { bot_.tmrSchedule_Timer(); }
    QString GetMacAddress() { return session_.GetMacAddress(); }
    // The login body: account "/" password "/" MAC "-" drive serial.
    static QString LoginBody(const QString& id, const QString& password, const QString& mac,
                             const QString& serial) {
        return MessengerSession::LoginBody(id, password, mac, serial);
    }

    // Received packets.
    void Proc_LoginResult(const QString& body);
    void Proc_CL_List(const QString& body);
    void Proc_CL_Online(const QString& body);
    void Proc_CL_Offline(const QString& body);
    void Proc_CL_CngStat(const QString& body);
    void Proc_ChatCommand(const QString& text, const QString& header) { bot_.Proc_ChatCommand(text, header); }

    // What the window shows.
    const QString& caption() const { return caption_; }
    const QString& myInfo() const { return lblMyInfo_; }
    const QString& onlineCountText() const { return lblCnt_; }
    bool testButtonEnabled() const { return true; }
    ContactTree& tree() { return TreeView1; }
    const ContactList& contacts() const { return contacts_; }
    const CommandJob& commandJob() const { return bot_.commandJob(); }
    const QString& loginId() const { return session_.loginId(); }
    const QString& loginPassword() const { return session_.loginPassword(); }

    int socketState() const { return session_.socketState(); }
    const QTimer& logoutSensorTimer() const { return session_.logoutSensorTimer(); }
    const QTimer& autoLoginTimer() const { return session_.autoLoginTimer(); }
    const QTimer& scheduleTimer() const { return bot_.scheduleTimer(); }
    const QTimer& workTimer() const { return bot_.workTimer(); }
    // The messenger socket's descriptor while it has one, else -1 (to inspect its options).
    qintptr socketDescriptor() const { return session_.socketDescriptor(); }

signals:
    void captionChanged(const QString& caption);
    void myInfoChanged(const QString& text);
    void onlineCountTextChanged(const QString& text);
    // One line per change of state worth telling an operator (connected, logged in, list, sent, errors);
    // `reportRecipient` is the recipient when the line is about a report.
    void stateLine(const QString& line, const QString& reportRecipient = QString());
    // What the bot is doing now, in a few words (connecting, logged in as ..., running a job), for a
    // service manager's status line.
    void statusChanged(const QString& status);
    // Something an operator should look at that is no error of the program (a refused command).
    void warningLine(const QString& line);
    // A user list has been taken into the contact tree.
    void userListReceived();
    // The window has unloaded: the program ends.
    void unloaded();

private:
    // The state the connection is in; a job's status lasts while the job runs, then this one is back.
    void setConnectionStatus(const QString& status);
    void setMyInfo(const QString& text);
    void setOnlineCountText(const QString& text);

    QString caption_ = QStringLiteral("메신저(스케줄서버 전용)");
    QString lblMyInfo_ = QStringLiteral("MyInfo");
    QString lblCnt_ = QStringLiteral("00명");
    QString connectionStatus_;

    ContactTree TreeView1;
    ContactList contacts_{TreeView1};

    // Declared after the contact list it resets, so that it goes first; the bot, which sends through it,
    // goes before it.
    MessengerSession session_;
    JobBot bot_;
};
