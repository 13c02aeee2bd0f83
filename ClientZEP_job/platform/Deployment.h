#pragma once

#include "Tls.h"

#include <QList>
#include <QString>

struct DeploymentFile;

// Who may start the bot's jobs from a chat ("/_2rm", "/selfupdate", "/webupdate"): every user, or only the
// user ids named in deployment.ini's CommandUsers (none at all when no entry there could be used).
struct CommandRights {
    // The value that lets nobody start them (the package ships it): "none".
    static constexpr const char* Nobody = "none";
    bool everyone = true;
    QList<qint32> ids;

    // Whether the messenger user `sender` (its id as the packet header carries it) may.
    bool allows(const QString& sender) const;
    // "17,42" as the key would hold it; empty for everyone, "none" for nobody.
    QString text() const;
    // In words, for the administrator.
    QString description() const;
};

// The site's deployment values from deployment.ini beside the program (section "Deployment"). Every key that
// is missing, empty or unusable keeps the default compiled into the program.
struct Deployment {
    QString DirectoryServer;
    QString AddrMasterServer;
    QString AddrWebLogin;
    QString AddrAutoUpdate;
    QString AddrBackupFtp;
    QString AddrMessenger;
    QString WebHostFtpHost;
    QString BackupFtpHost;
    quint16 MessengerPort = 0;
    quint16 FtpPort = 0;
    quint16 MySqlPort = 0;
    // How both FTP servers spell file names: "CP949" (the default) or "UTF-8".
    QString FtpNameEncoding;
    // The accounts: the messenger log-in, the log database, the web database, the web host's FTP server and
    // the backup FTP server.
    QString LoginId;
    QString LoginPassword;
    QString LogDatabaseUser;
    QString LogDatabasePassword;
    QString WebDatabaseUser;
    QString WebDatabasePassword;
    QString WebHostFtpUser;
    QString WebHostFtpPassword;
    QString BackupFtpUser;
    QString BackupFtpPassword;
    // The release key of the self-update: a minisign public key line, or the path of a minisign ".pub" file.
    QString UpdatePublicKey;
    // Set: only these users may start the jobs of the chat commands.
    CommandRights CommandUsers;
    // TLS per kind of peer ("required" in the file; "off", the default, talks in clear), and the CA that
    // signs the servers' certificates (a PEM file; empty: the system's store).
    bool FtpTls = false;   // both FTP servers: AUTH TLS, the listings protected as well
    bool MySqlTls = false; // the log database and the web database
    bool HttpTls = false;  // the directory server and the update server: https
    QString TlsCaFile;
    // A daily report whose minute passed while the bot was not logged in runs once after the next login of
    // the same day ("on", the default); "off" runs every entry of the schedule at its minute or not at all.
    bool LateRun = true;

    Tls::Policy ftpTls() const { return {FtpTls, TlsCaFile}; }
    Tls::Policy mySqlTls() const { return {MySqlTls, TlsCaFile}; }
    Tls::Policy httpTls() const { return {HttpTls, TlsCaFile}; }

    // The compiled defaults alone.
    static Deployment defaults();

    // The defaults overridden by `folder`/deployment.ini.
    static Deployment load(const QString& folder);

    // `folder`/deployment.ini read with everything that could not be used in it.
    static DeploymentFile read(const QString& folder);

    // The text of a deployment.ini: the values it gives and what in it cannot be used.
    static DeploymentFile parse(const QString& text);

    static QString path(const QString& folder);
};

// One line of deployment.ini that the program cannot use as written.
struct DeploymentIssue {
    int line = 0;    // from 1
    QString key;     // the key as written; "[name]" for a section line; empty for a line that is neither
    QString problem; // what is wrong and what the program does instead, in plain words

    // The whole message: file, line, key and problem.
    QString text(const QString& file) const;
    bool operator==(const DeploymentIssue&) const = default;
};

struct DeploymentFile {
    // One value as the program uses it, and where it came from.
    struct Setting {
        QString key;
        QString value;
        int line = 0;        // the line it was read from; 0 for the compiled default
        bool secret = false; // a password: never shown
    };

    bool present = false; // the file exists and could be read
    Deployment values;
    QList<Setting> settings; // every key, in the order of the table of keys
    QList<DeploymentIssue> issues;
};
