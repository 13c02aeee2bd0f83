#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A release key made with Debian's minisign for one test, signing as a release is signed:
// minisign -S -s KEY -m F -t "F V" (prehashed by default, -l for the legacy algorithm).
class ReleaseKey {
public:
    ReleaseKey() {
        EXPECT_EQ(minisign({"-G", "-W", "-f", "-p", path("key.pub"), "-s", path("key.sec")}), 0)
            << "minisign -G (scripts/setup.sh installs minisign)";
    }

    // The key line of the ".pub" file: deployment.ini's UpdatePublicKey.
    QString publicKeyLine() const {
        return QString::fromLatin1(TestSupport::readAll(path("key.pub"))).section('\n', 1, 1).trimmed();
    }
    QString publicKeyFile() const { return path("key.pub"); }

    // The ".minisig" text of `body` with the trusted comment `comment`.
    QByteArray sign(const QByteArray& body, const QString& comment, bool legacy = false) const {
        TestSupport::writeFile(path("file"), body);
        QFile::remove(path("file.minisig"));
        QStringList arguments = {"-S", "-s", path("key.sec"), "-m", path("file"), "-t", comment};
        if (legacy)
            arguments << "-l";
        EXPECT_EQ(minisign(arguments), 0) << "minisign -S";
        return TestSupport::readAll(path("file.minisig"));
    }

private:
    QString path(const QString& name) const { return folder.path() + "/" + name; }
    static int minisign(const QStringList& arguments) {
        QProcess p;
        p.start("minisign", arguments);
        p.closeWriteChannel();
        if (!p.waitForFinished(30000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QTemporaryDir folder;
};
