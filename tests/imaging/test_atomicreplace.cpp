// Replacing a file never leaves it partial or missing: failures at each step, a file-size limit
// and a process killed between steps. (A folder the user cannot write to: the model's rotation
// cases in test_fileactions.)
#include "imaging/atomicreplace.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kivo;

namespace {

const QByteArray oldContents = QByteArray("old contents ").repeated(100);
const QByteArray newContents = QByteArray("the new, longer contents ").repeated(4000);

const std::vector<ReplaceStep> allSteps{
    ReplaceStep::create, ReplaceStep::write, ReplaceStep::permissions, ReplaceStep::attributes,
    ReplaceStep::sync,   ReplaceStep::close, ReplaceStep::rename,      ReplaceStep::syncFolder};

QStringList hiddenFiles(const QString& folder) {
    return QDir(folder)
        .entryList(QDir::Files | QDir::Hidden | QDir::System)
        .filter(QRegularExpression("^\\."));
}

// Runs `body` in a child process and returns its wait status; the child's own state (limits,
// identity, a kill) cannot disturb the test process.
template <typename Body> int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// Runs one of the system's attribute tools; its output, or none when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Everything attached to a file beyond its mode, as getfattr and getfacl show it.
QByteArray attachments(const QString& path) {
    return run("getfattr", {"--absolute-names", "-d", "-m", "-", "-e", "hex", path})
               .value_or("getfattr failed") +
           run("getfacl", {"--absolute-names", "--numeric", path}).value_or("getfacl failed");
}

} // namespace

class TestAtomicReplace : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString target_;
    FilePath targetPath() const { return filePathFromText(target_); }
    FilePath temporary() const { return hiddenTemporaryPath(targetPath()); }

private Q_SLOTS:
    void init() {
        QVERIFY(dir_.isValid());
        for (const QString& name : QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(dir_.filePath(name));
        target_ = dir_.filePath(QStringLiteral("photo.png"));
        QVERIFY(test::writeFile(target_, oldContents));
    }

    // The mode and owner, and desktop tags, a rating, an ACL and a security label all survive.
    void keepsPermissionsOwnerAttributesAndAcl() {
        const QByteArray target = QFile::encodeName(target_);
        const bool root = ::geteuid() == 0;
        QVERIFY(::chmod(target, 0640) == 0 && (!root || ::chown(target, 1234, 5678) == 0));
        const bool tools = !QStandardPaths::findExecutable("setfattr").isEmpty() &&
                           !QStandardPaths::findExecutable("setfacl").isEmpty();
        if (tools) {
            QVERIFY(run("setfattr", {"-n", "user.xdg.tags", "-v", "holiday,beach", target_}));
            QVERIFY(run("setfattr", {"-n", "user.baloo.rating", "-v", "8", target_}));
            QVERIFY(run("setfacl", {"-m", "u:65534:rw,g:100:r", target_}));
            if (root) // only root may label a file freely
                QVERIFY(run("setfattr", {"-n", "security.kivo", "-v", "label", target_}));
        }
        const QByteArray before = tools ? attachments(target_) : QByteArray();
        QVERIFY2(!tools || (before.contains("user.xdg.tags") && before.contains("user:65534:rw-")),
                 before);
        struct stat was {
        }, now{};
        QVERIFY(::stat(target, &was) == 0);

        QVERIFY(replaceFileAtomically(targetPath(), temporary(), newContents));
        QCOMPARE(test::readFile(target_), newContents);
        QVERIFY(::stat(target, &now) == 0);
        QCOMPARE(now.st_mode, was.st_mode);
        QVERIFY(now.st_uid == was.st_uid && now.st_gid == was.st_gid);
        if (tools)
            QCOMPARE(attachments(target_), before);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
        if (!tools)
            QSKIP("setfattr and setfacl (packages attr and acl) are not installed");
    }

    // A user who is not root keeps the file's group where they belong to it; an attachment the
    // user cannot give the new file, or an owner they cannot keep, leaves the file untouched.
    void userKeepsGroupOrLeavesTheFile_data() {
        QTest::addColumn<uid_t>("owner");
        QTest::addColumn<bool>("labelled");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("own file, a group of ours") << uid_t(65534) << false << true;
        QTest::newRow("security label") << uid_t(65534) << true << false;
        QTest::newRow("another user's file") << uid_t(0) << false << false;
    }
    void userKeepsGroupOrLeavesTheFile() {
        QFETCH(uid_t, owner);
        QFETCH(bool, labelled);
        QFETCH(bool, replaced);
        if (::geteuid() != 0)
            QSKIP("needs root to hand the file to another user");
        const QByteArray target = QFile::encodeName(target_);
        const QByteArray folder = QFile::encodeName(dir_.path());
        constexpr gid_t group = 100;
        QVERIFY(::chown(target, owner, group) == 0 && ::chmod(target, 0664) == 0);
        QVERIFY(::chmod(folder, 0777) == 0);
        if (labelled)
            QVERIFY(::setxattr(target, "security.kivo", "label", 5, 0) == 0);
        const int status = inChild([&] {
            const gid_t groups[] = {group};
            if (::setgroups(1, groups) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 4;
            return replaceFileAtomically(targetPath(), temporary(), newContents) ? 0 : 3;
        });
        QVERIFY(::chmod(folder, 0700) == 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), replaced ? 0 : 3);
        QCOMPARE(test::readFile(target_), replaced ? newContents : oldContents);
        struct stat st {};
        QVERIFY(::stat(target, &st) == 0);
        QCOMPARE(st.st_gid, group);
        QCOMPARE(st.st_uid, owner);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
    }

    void failureAtEachStepLeavesTheOriginal() {
        for (const ReplaceStep failing : allSteps) {
            init();
            const bool replaced =
                replaceFileAtomically(targetPath(), temporary(), newContents,
                                      [&](ReplaceStep step) { return step != failing; });
            // After the rename the new file stands; only its durability was at stake.
            const bool renamed = failing == ReplaceStep::syncFolder;
            QVERIFY2(replaced == renamed, qPrintable(QString::number(int(failing))));
            QCOMPARE(test::readFile(target_), renamed ? newContents : oldContents);
            QVERIFY(hiddenFiles(dir_.path()).isEmpty());
        }
    }

    // A file-size limit cuts the real write short (EFBIG), past what the injected failures
    // reach.
    void fileSizeLimitLeavesTheOriginal() {
        const int status = inChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return replaceFileAtomically(targetPath(), temporary(), newContents) ? 0 : 3;
        });
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 3);
        QCOMPARE(test::readFile(target_), oldContents);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
    }

    void killedAtEachStepLeavesAWholeFile() {
        for (const ReplaceStep dying : allSteps) {
            init();
            const int status = inChild([&] {
                replaceFileAtomically(targetPath(), temporary(), newContents,
                                      [&](ReplaceStep step) {
                                          if (step == dying)
                                              ::raise(SIGKILL);
                                          return true;
                                      });
                return 0;
            });
            const QString what = QStringLiteral("step %1").arg(int(dying));
            QVERIFY2(WIFSIGNALED(status), qPrintable(what));
            const QByteArray now = test::readFile(target_);
            QVERIFY2(now == oldContents || now == newContents, qPrintable(what));
            QVERIFY2((now == newContents) == (dying == ReplaceStep::syncFolder), qPrintable(what));
            // A killed process cannot clean up: what it leaves is hidden, and whole or partial
            // it is never the image itself.
            QVERIFY2(hiddenFiles(dir_.path()).size() <= 1, qPrintable(what));
        }
    }

    void symbolicLinkIsNotReplaced() {
        const QString link = dir_.filePath(QStringLiteral("link.png"));
        QVERIFY(QFile::link(target_, link));
        QVERIFY(!replaceFileAtomically(filePathFromText(link),
                                       hiddenTemporaryPath(filePathFromText(link)), newContents));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(test::readFile(target_), oldContents);
    }
};

QTEST_GUILESS_MAIN(TestAtomicReplace)
#include "test_atomicreplace.moc"
