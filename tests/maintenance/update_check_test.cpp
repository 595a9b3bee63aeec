#include "maintenance/update_check.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTcpServer>
#include <QThread>

#include <elf.h>
#include <sys/stat.h>

#include <cstring>

#include <filesystem>
#include <fstream>

#include "maintenance/download_dialog.h"
#include "maintenance/program_swap.h"
#include "maintenance/version_reply.h"
#include "tests/maintenance/files.h"
#include "tests/maintenance/loopback_server.h"
#include "tests/maintenance/signing_key.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"

namespace kestrix::test {
namespace {

namespace fs = std::filesystem;

Version versionOf(std::string_view reply) {
    return parseVersionReply(reply).value();
}

TEST(VersionReply, ComparesPartByPartAsNumbers) {
    const Version own{2, 1, 7};
    EXPECT_EQ(versionOf("2.1.7"), own);
    EXPECT_GT(versionOf("2.1.8"), own);
    EXPECT_EQ(versionOf(" \t2.2.0  \r\n"), (Version{2, 2, 0}));
    EXPECT_EQ(versionOf("3"), (Version{3, 0, 0}));
    EXPECT_LT(versionOf("2.0.99"), own);
    // A long revision never outweighs the minor number.
    EXPECT_LT(versionOf("2.0.200"), own);
    EXPECT_LT(versionOf("2.0.999999999"), own);
    EXPECT_LT(versionOf("1.999.999"), own);
    EXPECT_GT(versionOf("2.10.0"), versionOf("2.9.99"));
    EXPECT_EQ(versionOf("2.x.5rc"), (Version{2, 0, 5}));
    EXPECT_GT(versionOf("30000.0.0"), versionOf("21474.99.9"));
    EXPECT_EQ(versionOf("999999999.0.1"), (Version{999999999, 0, 1}));
    EXPECT_FALSE(parseVersionReply(""));
    EXPECT_FALSE(parseVersionReply("   "));
    EXPECT_FALSE(parseVersionReply("<html>busy</html>"));
    // A run of digits longer than any version number is none, in any part.
    EXPECT_FALSE(parseVersionReply("1234567890"));
    EXPECT_FALSE(parseVersionReply("2.1.1234567890"));
    EXPECT_FALSE(parseVersionReply(std::string(10 << 20, '9')));
}

// The server's sockets need the application, which must come first.
struct WithApplication {
    WithApplication() { ensureApplication(); }
};

class UpdateCheckTest : public ::testing::Test, private WithApplication {
  public:
    // The administrator presses Cancel in the download's progress dialog as
    // soon as bytes arrive.
    void cancelWhenBytesArrive() {
        handOver_.downloading = [this](FetchControl& control) {
            dialog_ = std::make_unique<DownloadDialog>(control);
            auto shown = control.progress;
            control.progress = [this, shown](qint64 received, qint64 total) {
                shown(received, total);
                if (received > 0) cancelButton()->click();
            };
        };
    }

    void limitPackagesTo(std::int64_t bytes) { setup_.maxPackageBytes = bytes; }

    QPushButton* cancelButton() { return dialog_->dialog().findChild<QPushButton*>(); }

  protected:
    void SetUp() override {
        setup_.serverBase = server_.base();
        setup_.own = {2, 1, 7};
        setup_.publicKeyHex = key_.publicKeyHex();
        setup_.programDirectory = dir_.path();
        setup_.timeoutMs = 5000;
        package_ = QByteArray::fromStdString(readFile("/bin/true"));
        handOver_.mayLeave = [this] { return ++leaveQuestions_, mayLeave_; };
        handOver_.leave = [this] { ++leaves_; };
        handOver_.downloaded = [this] {
            ++downloads_;
            dialog_.reset();
        };
    }

    void offer(const QByteArray& version) { server_.serve(kVersionPath, {version}); }
    void offerPackage(const QByteArray& bytes, const QByteArray& signature) {
        server_.serve(kPackagePath, {bytes});
        server_.serve(QByteArray(kPackagePath) + ".sig", {signature});
    }

    UpdateOutcome run() { return checkForUpdates(setup_, boxes_, handOver_); }

    // The one box shown, for checks that end with a single message.
    std::string onlyMessage() {
        EXPECT_EQ(boxes_.shown().size(), 1u);
        return boxes_.shown().empty() ? "" : boxes_.shown().back().text;
    }

    // Yes to the question; the last box's text is returned.
    std::string acceptAndRun(UpdateOutcome expected) {
        boxes_.answer(Answer::Yes);
        boxes_.answer(Answer::OK);
        EXPECT_EQ(run(), expected);
        EXPECT_EQ(boxes_.unanswered(), 0u);
        return boxes_.shown().back().text;
    }

    void expectNothingInstalled() {
        EXPECT_FALSE(fs::exists(dir_.path() / kPackageFileName));
        EXPECT_FALSE(fs::exists(dir_.path() / kUpdaterFileName));
        EXPECT_EQ(leaves_, 0);
    }

    LoopbackServer server_;
    SigningKey key_;
    TempDir dir_;
    UpdateCheckSetup setup_;
    UpdateHandOver handOver_;
    ScriptedMessageBoxes boxes_;
    QByteArray package_;
    bool mayLeave_ = true;
    int leaveQuestions_ = 0;
    int leaves_ = 0;
    int downloads_ = 0;
    std::unique_ptr<DownloadDialog> dialog_;
};

TEST_F(UpdateCheckTest, SameVersionIsUpToDate) {
    offer("2.1.7\r\n");
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::UpToDate);
    const std::string text = std::string(kUpToDateMessage) +
                             "\r\n\r\nThis is Kestrix 2.1.7; the update server offers 2.1.7.";
    EXPECT_EQ(onlyMessage(), text);
    EXPECT_EQ(boxes_.shown().back(),
              titledMessage(text, MessageIcon::Information, MessageButtons::OK));
}

TEST_F(UpdateCheckTest, NewerVersionDeclinedDownloadsNothing) {
    offer("2.1.8");
    offerPackage(package_, key_.sign(package_));
    boxes_.answer(Answer::No);
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    EXPECT_EQ(boxes_.shown()[0],
              titledMessage(std::string("This is Kestrix 2.1.7; the update server offers 2.1.8.") +
                                "\r\n\r\n" + kNewVersionQuestion,
                            MessageIcon::Question, MessageButtons::YesNo));
    EXPECT_EQ(boxes_.shown()[1].text, kLaterMessage);
    EXPECT_EQ(server_.requests(kPackagePath), 0);
}

TEST_F(UpdateCheckTest, UnreachableServerIsNotUpToDate) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    setup_.serverBase = "http://127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::Unreachable);
    EXPECT_TRUE(onlyMessage().starts_with(kUnreachablePrefix)) << onlyMessage();
    EXPECT_GT(onlyMessage().size(), std::string(kUnreachablePrefix).size());
}

TEST_F(UpdateCheckTest, SilentServerRunsIntoTheTimeLimit) {
    server_.serve(kVersionPath, LoopbackServer::Reply::silentOne());
    setup_.timeoutMs = 500;
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::Unreachable);
    EXPECT_EQ(onlyMessage(), std::string(kUnreachablePrefix) + "no answer within 0.5 seconds");
}

TEST_F(UpdateCheckTest, ErrorStatusEmptyAndNonsenseRepliesAreNoVersion) {
    server_.serve(kVersionPath, {"gone", 500});
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::Unreachable);
    EXPECT_EQ(boxes_.shown().back().text,
              std::string(kUnreachablePrefix) + "the server answered with status 500");
    for (const QByteArray& reply : {QByteArray(""), QByteArray(" \r\n"), QByteArray("<html/>")}) {
        offer(reply);
        boxes_.answer(Answer::OK);
        EXPECT_EQ(run(), UpdateOutcome::NoVersion);
        EXPECT_EQ(boxes_.shown().back().text, kNoVersionMessage);
    }
}

TEST_F(UpdateCheckTest, VerifiedPackageIsHandedToTheUpdater) {
    offer("2.1.8");
    offerPackage(package_, key_.sign(package_));
    // An updater already there is started as it is.
    const fs::path started = dir_.path() / "started";
    writeFile(dir_.path() / kUpdaterFileName, "#!/bin/sh\necho run > " + started.string() + "\n",
              fs::perms::owner_all);
    std::vector<std::pair<qint64, qint64>> progress;
    handOver_.downloading = [&](FetchControl& control) {
        control.progress = [&](qint64 received, qint64 total) {
            progress.emplace_back(received, total);
        };
    };
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(run(), UpdateOutcome::HandedOver);
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(leaveQuestions_, 1);
    EXPECT_EQ(leaves_, 1);
    EXPECT_EQ(downloads_, 1);
    EXPECT_EQ(readFile(dir_.path() / kPackageFileName), package_.toStdString());
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(qint64(package_.size()), qint64(package_.size())));
    ASSERT_TRUE(appears(started));
    EXPECT_TRUE(readFile(dir_.path() / kUpdaterFileName).starts_with("#!/bin/sh"));
}

TEST_F(UpdateCheckTest, CancelInTheUnsavedChangesQuestionStopsTheHandOver) {
    offer("2.1.8");
    offerPackage(package_, key_.sign(package_));
    mayLeave_ = false;
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(run(), UpdateOutcome::Stayed);
    EXPECT_EQ(leaveQuestions_, 1);
    expectNothingInstalled();
}

TEST_F(UpdateCheckTest, MissingUpdaterIsWrittenFromTheCarriedOneAndKeptOtherwise) {
    ASSERT_EQ(ensureUpdater(dir_.path()), "");
    const fs::path updater = dir_.path() / kUpdaterFileName;
    EXPECT_EQ(readFile(updater), readFile(KESTRIX_EMBEDDED_UPDATER));
    EXPECT_TRUE(
        readFile(updater).starts_with("\x7f"
                                      "ELF"));
    EXPECT_NE(fs::status(updater).permissions() & fs::perms::owner_exec, fs::perms::none);
    writeFile(updater, "mine", fs::perms::owner_all);
    ASSERT_EQ(ensureUpdater(dir_.path()), "");
    EXPECT_EQ(readFile(updater), "mine");
}

TEST_F(UpdateCheckTest, BuildWithoutKeyInstallsNothing) {
    offer("2.1.8");
    offerPackage(package_, key_.sign(package_));
    setup_.publicKeyHex.clear();
    // Said before anything is asked: no question whose Yes could not be kept.
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::NoKey);
    EXPECT_EQ(onlyMessage(),
              std::string("This is Kestrix 2.1.7; the update server offers 2.1.8.\r\n\r\n") +
                  kNoKeyMessage);
    EXPECT_EQ(server_.requests(kPackagePath), 0);
    expectNothingInstalled();
}

// An installed program's directory: the administrator is sent to the package
// manager before anything is downloaded. The server is the tools' own script,
// so that the round trip the README describes is tried too.
TEST_F(UpdateCheckTest, UnwritableProgramDirectoryDownloadsNothing) {
    const fs::path packageFile = dir_.path() / "offered";
    writeFile(packageFile, package_.toStdString(), fs::perms::owner_all);
    // Its address and request log go to a file.
    const fs::path log = dir_.path() / "server.log";
    QProcess server;
    server.setStandardOutputFile(QString::fromStdString(log.string()));
    server.start(KESTRIX_SYSTEM_PYTHON,
                 {QStringLiteral(KESTRIX_UPDATE_SERVER), QStringLiteral("--version"),
                  QStringLiteral("2.1.8"), QStringLiteral("--package"),
                  QString::fromStdString(packageFile.string()), QStringLiteral("--port"),
                  QStringLiteral("0")});
    QDeadlineTimer deadline(20000);
    while (readFile(log).find('\n') == std::string::npos && !deadline.hasExpired())
        QThread::msleep(50);
    const std::string started = readFile(log);
    ASSERT_NE(started.find('\n'), std::string::npos) << "the update server did not start";
    setup_.serverBase = started.substr(0, started.find('\n'));
    const fs::path program = dir_.path() / "program";
    fs::create_directory(program);
    setup_.programDirectory = program;
    const std::string outcome = inReadOnlyDirectory(program, [this] {
        boxes_.answer(Answer::OK);
        const UpdateOutcome result = run();
        return std::to_string(static_cast<int>(result)) + "|" + boxes_.shown().back().text;
    });
    // A packaged program's directory is the package manager's even when this
    // user could write it (root), and whether or not the build has a key.
    const fs::path packaged = dir_.path() / "packaged";
    fs::create_directory(packaged);
    setup_.programDirectory = packaged;
    setup_.packaged = true;
    setup_.publicKeyHex.clear();
    boxes_.answer(Answer::OK);
    const UpdateOutcome packagedOutcome = run();
    const std::string packagedMessage = boxes_.shown().back().text;
    server.kill();
    server.waitForFinished();
    const std::string versions = "This is Kestrix 2.1.7; the update server offers 2.1.8.\r\n\r\n";
    EXPECT_EQ(outcome, std::to_string(static_cast<int>(UpdateOutcome::NotWritable)) + "|" +
                           versions + kNotWritablePrefix + program.string() +
                           ".\r\nPlease update Kestrix through your system's package manager.");
    EXPECT_EQ(packagedOutcome, UpdateOutcome::NotWritable);
    EXPECT_EQ(packagedMessage, versions + kPackagedPrefix + packaged.string() +
                                   ".\r\nPlease update Kestrix through your system's package "
                                   "manager.");
    const QByteArray requests = QByteArray::fromStdString(readFile(log));
    EXPECT_EQ(requests.count("GET /OrvaneUpdateServer/version.asp?app=Tavix "), 2)
        << outcome << requests.toStdString();
    EXPECT_EQ(requests.count("GET /orvaneupdateserver/"), 0);
    EXPECT_TRUE(fs::is_empty(program));
    EXPECT_TRUE(fs::is_empty(packaged));
    // Neither asked whether to update.
    for (const Message& shown : boxes_.shown())
        EXPECT_EQ(shown.text.find("Would you like to update"), std::string::npos);
}

// Only a newer version is offered: an older one would undo the fixes since.
TEST_F(UpdateCheckTest, OlderAndEqualVersionsAreNeverOffered) {
    offerPackage(package_, key_.sign(package_));
    for (const QByteArray& reply :
         {QByteArray("2.0.200"), QByteArray("2.1.6"), QByteArray("1.99.99"), QByteArray("2.1.7.9"),
          QByteArray("0")}) {
        offer(reply);
        boxes_.answer(Answer::OK);
        EXPECT_EQ(run(), UpdateOutcome::UpToDate) << reply.toStdString();
        EXPECT_TRUE(boxes_.shown().back().text.starts_with(kUpToDateMessage));
    }
    for (const QByteArray& reply : {QByteArray("2.1.8"), QByteArray("2.10.0"), QByteArray("3")}) {
        offer(reply);
        boxes_.answer(Answer::No);
        boxes_.answer(Answer::OK);
        EXPECT_EQ(run(), UpdateOutcome::Declined) << reply.toStdString();
    }
    EXPECT_EQ(boxes_.unanswered(), 0u);
    EXPECT_EQ(server_.requests(kPackagePath), 0);
}

// A reply without end, or announcing one far too long, is read no further
// than a version could be.
TEST_F(UpdateCheckTest, EndlessOrHugeVersionReplyIsNoVersion) {
    server_.serve(kVersionPath, LoopbackServer::Reply::endlessOne("2222222222"));
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::NoVersion);
    EXPECT_EQ(boxes_.shown().back().text,
              std::string(kNotAVersionPrefix) + "the server sent more than the 256 bytes allowed.");

    offer(QByteArray(10 << 20, '7'));
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::NoVersion);
    EXPECT_EQ(boxes_.shown().back().text,
              std::string(kNotAVersionPrefix) +
                  "the server announces 10485760 bytes, more than the 256 allowed.");

    // Short enough to read, but no version number.
    offer(QByteArray(200, '7'));
    boxes_.answer(Answer::OK);
    EXPECT_EQ(run(), UpdateOutcome::NoVersion);
    EXPECT_EQ(boxes_.shown().back().text, kNoVersionMessage);
    EXPECT_EQ(boxes_.unanswered(), 0u);
}

// A download that stops: the dialog shows what arrived and then that nothing
// does, and Cancel ends it at once, long before the time limit.
TEST_F(UpdateCheckTest, StalledDownloadEndsAtCancel) {
    offer("2.1.8");
    server_.serve(QByteArray(kPackagePath) + ".sig", {key_.sign(package_)});
    server_.serve(kPackagePath, LoopbackServer::Reply::stallingOne(
                                    package_.left(package_.size() / 2), package_.size()));
    // Only a hung test meets it.
    setup_.timeoutMs = 600000;
    QString shownAtCancel;
    int valueAtCancel = -1;
    handOver_.downloading = [&](FetchControl& control) {
        dialog_ = std::make_unique<DownloadDialog>(control);
        auto shown = control.quiet;
        control.quiet = [&, shown](int seconds) {
            shown(seconds);
            if (!dialog_->dialog().labelText().contains(QStringLiteral("sent nothing"))) return;
            shownAtCancel = dialog_->dialog().labelText();
            valueAtCancel = dialog_->dialog().value();
            cancelButton()->click();
        };
    };
    const std::string message = acceptAndRun(UpdateOutcome::Rejected);
    EXPECT_EQ(message, std::string(kRejectedPrefix) + "the download was cancelled.");
    EXPECT_TRUE(shownAtCancel.contains(
        QStringLiteral("%1 of %2")
            .arg(byteAmount(package_.size() / 2), byteAmount(package_.size()))))
        << shownAtCancel.toStdString();
    EXPECT_TRUE(shownAtCancel.contains(QStringLiteral("The server has sent nothing for %1 seconds.")
                                           .arg(DownloadDialog::kQuietNoteSeconds)))
        << shownAtCancel.toStdString();
    EXPECT_EQ(valueAtCancel, 50);
    expectNothingInstalled();
    EXPECT_EQ(downloads_, 1);
}

// A version query that gets no answer shows that it waits, and Cancel ends
// it at once without a message.
TEST_F(UpdateCheckTest, StalledVersionQueryShowsItWaitsAndEndsAtCancel) {
    server_.serve(kVersionPath, LoopbackServer::Reply::silentOne());
    setup_.timeoutMs = 600000;  // only a hung test meets it
    QString shownAtCancel;
    handOver_.asking = [&](FetchControl& control) {
        dialog_ =
            std::make_unique<DownloadDialog>(control, nullptr, DownloadDialog::askingHeading());
        EXPECT_TRUE(dialog_->dialog().isVisible());
        auto shown = control.quiet;
        control.quiet = [&, shown](int seconds) {
            shown(seconds);
            if (!dialog_->dialog().labelText().contains(QStringLiteral("sent nothing"))) return;
            shownAtCancel = dialog_->dialog().labelText();
            cancelButton()->click();
        };
    };
    handOver_.answered = [&] { dialog_.reset(); };
    EXPECT_EQ(run(), UpdateOutcome::Cancelled);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_TRUE(shownAtCancel.startsWith(DownloadDialog::askingHeading()))
        << shownAtCancel.toStdString();
    EXPECT_FALSE(dialog_);
}

TEST(DownloadDialogText, AmountsAreReadable) {
    EXPECT_EQ(byteAmount(0), "0 bytes");
    EXPECT_EQ(byteAmount(1023), "1023 bytes");
    EXPECT_EQ(byteAmount(1536), "1.5 KB");
    EXPECT_EQ(byteAmount(5 << 20), "5.0 MB");
}

// A copy of the program with one 16-bit field of its ELF header changed
// (e_type and e_machine sit at the same place in both classes).
constexpr std::size_t kTypeOffset = offsetof(Elf64_Ehdr, e_type);
constexpr std::size_t kMachineOffset = offsetof(Elf64_Ehdr, e_machine);

QByteArray withElfField(QByteArray program, std::size_t offset, std::uint16_t value) {
    std::memcpy(program.data() + offset, &value, sizeof value);
    return program;
}

std::uint16_t otherMachine(const QByteArray& program) {
    std::uint16_t own = 0;
    std::memcpy(&own, program.constData() + kMachineOffset, sizeof own);
    return own == EM_X86_64 ? EM_AARCH64 : EM_X86_64;
}

struct BadPackage {
    const char* name;
    std::function<void(UpdateCheckTest&, LoopbackServer&, const QByteArray&, const SigningKey&)>
        serve;
    const char* reason;
};

class RejectedPackageTest : public UpdateCheckTest,
                            public ::testing::WithParamInterface<BadPackage> {};

TEST_P(RejectedPackageTest, NothingIsInstalledAndTheMessageSaysWhy) {
    offer("2.1.8");
    // An earlier package goes too: only a verified one is ever left.
    writeFile(dir_.path() / kPackageFileName, "old", fs::perms::owner_read);
    GetParam().serve(*this, server_, package_, key_);
    const std::string message = acceptAndRun(UpdateOutcome::Rejected);
    EXPECT_TRUE(message.starts_with(kRejectedPrefix)) << message;
    EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    expectNothingInstalled();
    EXPECT_EQ(leaveQuestions_, 0);
    // The progress dialog goes before the message, however the download ended.
    EXPECT_EQ(downloads_, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, RejectedPackageTest,
    ::testing::Values(
        BadPackage{"Truncated",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       server.serve(kPackagePath, {package.left(1000), 200, package.size()});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(package)});
                   },
                   "the download failed"},
        BadPackage{"Unsigned",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey&) { server.serve(kPackagePath, {package}); },
                   "signature could not be fetched: the server answered with status 404"},
        BadPackage{"SignedByAnotherKey",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey&) {
                       SigningKey other;
                       server.serve(kPackagePath, {package});
                       server.serve(QByteArray(kPackagePath) + ".sig", {other.sign(package)});
                   },
                   "the package's signature is not valid"},
        BadPackage{
            "NotAnElfFile",
            [](UpdateCheckTest&, LoopbackServer& server, const QByteArray&, const SigningKey& key) {
                const QByteArray script = "#!/bin/sh\necho I am not Kestrix\n";
                server.serve(kPackagePath, {script});
                server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(script)});
            },
            "the package is not a program for this computer: it is not an ELF program"},
        BadPackage{"ElfForAnotherProcessor",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       const QByteArray other =
                           withElfField(package, kMachineOffset, otherMachine(package));
                       server.serve(kPackagePath, {other});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(other)});
                   },
                   "the package is not a program for this computer: it is a program for another "
                   "processor"},
        BadPackage{"ObjectFile",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       const QByteArray object = withElfField(package, kTypeOffset, ET_REL);
                       server.serve(kPackagePath, {object});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(object)});
                   },
                   "the package is not a program for this computer: it is an ELF file of type 1, "
                   "not a program"},
        BadPackage{"CoreDump",
                   [](UpdateCheckTest&, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       const QByteArray core = withElfField(package, kTypeOffset, ET_CORE);
                       server.serve(kPackagePath, {core});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(core)});
                   },
                   "it is an ELF file of type 4, not a program"},
        BadPackage{"EndlessPackage",
                   [](UpdateCheckTest& test, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       test.limitPackagesTo(1 << 20);
                       server.serve(kPackagePath, LoopbackServer::Reply::endlessOne(package));
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(package)});
                   },
                   "the package is too large: the server sent more than the 1048576 bytes "
                   "allowed"},
        BadPackage{"AnnouncedTooLarge",
                   [](UpdateCheckTest& test, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       test.limitPackagesTo(package.size() - 1);
                       server.serve(kPackagePath, {package});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(package)});
                   },
                   "the package is too large: the server announces"},
        BadPackage{
            "Empty",
            [](UpdateCheckTest&, LoopbackServer& server, const QByteArray&, const SigningKey& key) {
                server.serve(kPackagePath, {QByteArray()});
                server.serve(QByteArray(kPackagePath) + ".sig", {key.sign({})});
            },
            "the package is empty"},
        BadPackage{"CancelledInTheProgressDialog",
                   [](UpdateCheckTest& test, LoopbackServer& server, const QByteArray& package,
                      const SigningKey& key) {
                       server.serve(kPackagePath, {package});
                       server.serve(QByteArray(kPackagePath) + ".sig", {key.sign(package)});
                       test.cancelWhenBytesArrive();
                   },
                   "the download was cancelled"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix::test
