// The manual as the build prints it, and the printer's refusals.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace kestrix {
namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program to its end; its standard output, or fails the test.
std::string outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().toStdString();
}

// The words of a text, single-spaced and with the font's ligatures taken
// apart, so that the layout does not matter.
QString words(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC).simplified();
}

// The headings of the Markdown source, without their marks.
std::vector<QString> headingsOf(const std::string& markdown) {
    std::vector<QString> headings;
    const QRegularExpression heading(QStringLiteral("^#+ (.+)$"),
                                     QRegularExpression::MultilineOption);
    auto it = heading.globalMatch(QString::fromStdString(markdown));
    while (it.hasNext())
        headings.push_back(it.next().captured(1).remove(QLatin1Char('`')));
    return headings;
}

TEST(ManualPdf, IsAnA4PdfOfSeveralPagesWithTheManualsTitle) {
    const std::string pdf = readFile(KESTRIX_MANUAL_PDF);
    ASSERT_GT(pdf.size(), 1000u);
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    // Page objects, not the page tree ("/Type /Pages").
    const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    const auto pages = QString::fromLatin1(pdf.data(), qsizetype(pdf.size())).count(page);
    EXPECT_GT(pages, 3);

    const QString info = QString::fromStdString(
        outputOf(QStringLiteral("pdfinfo"), {QStringLiteral(KESTRIX_MANUAL_PDF)}));
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Kestrix .* manual"))))
        << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("(A4)"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(pages))))
        << info.toStdString();
}

TEST(ManualPdf, CarriesEveryHeadingOfTheManualAndItsLastLine) {
    const std::string markdown = readFile(KESTRIX_MANUAL_SOURCE);
    const std::vector<QString> headings = headingsOf(markdown);
    ASSERT_GT(headings.size(), 15u);
    const QString text = words(QString::fromStdString(outputOf(
        QStringLiteral("pdftotext"), {QStringLiteral(KESTRIX_MANUAL_PDF), QStringLiteral("-")})));
    for (const QString& heading : headings)
        EXPECT_TRUE(text.contains(words(heading))) << heading.toStdString();
    // The end of the source reached the last page.
    EXPECT_TRUE(text.contains(QStringLiteral("run it on the VNC platform")));
}

// Commands are copied from the manual: every line of a code block stands
// whole on one line of the page, however long (the longest are near 100
// characters, which a 10 point line would break).
TEST(ManualPdf, CodeLinesAreNeverBroken) {
    const QString source = QString::fromStdString(readFile(KESTRIX_MANUAL_SOURCE));
    const QStringList page =
        QString::fromStdString(outputOf(QStringLiteral("pdftotext"),
                                        {QStringLiteral("-layout"),
                                         QStringLiteral(KESTRIX_MANUAL_PDF), QStringLiteral("-")}))
            .split(QLatin1Char('\n'));
    QStringList printed;
    for (const QString& line : page)
        printed.push_back(words(line));
    const QRegularExpression indented(QStringLiteral("^ {4,}(\\S.{50,})$"),
                                      QRegularExpression::MultilineOption);
    int checked = 0;
    for (auto it = indented.globalMatch(source); it.hasNext(); ++checked) {
        const QString code = words(it.next().captured(1));
        const bool whole = std::any_of(printed.begin(), printed.end(),
                                       [&](const QString& line) { return line.contains(code); });
        EXPECT_TRUE(whole) << code.toStdString();
    }
    EXPECT_GE(checked, 5);
}

class ManualPrinter : public ::testing::Test {
  protected:
    // Runs the printer; its exit code.
    int print(const std::filesystem::path& source) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KESTRIX_MANUAL_PRINTER),
                      {QString::fromStdString(source.string()),
                       QString::fromStdString(output().string()), QStringLiteral("Title")});
        EXPECT_TRUE(process.waitForFinished(60000));
        error_ = process.readAllStandardError().toStdString();
        return process.exitCode();
    }
    std::filesystem::path output() const { return dir_.path() / "out.pdf"; }

    test::TempDir dir_;
    std::string error_;
};

TEST_F(ManualPrinter, RefusesAMissingOrEmptySourceAndKeepsTheOldManual) {
    std::ofstream(output()) << "the manual of before";
    EXPECT_EQ(print(dir_.path() / "nothing.md"), 1);
    EXPECT_NE(error_.find("cannot read"), std::string::npos) << error_;
    std::ofstream(dir_.path() / "empty.md") << "  \n\n";
    EXPECT_EQ(print(dir_.path() / "empty.md"), 1);
    EXPECT_NE(error_.find("is empty"), std::string::npos) << error_;
    EXPECT_EQ(readFile(output()), "the manual of before");
}

TEST_F(ManualPrinter, AnUnwritableTargetFailsTheBuildStep) {
    std::ofstream(dir_.path() / "short.md") << "# Title\n\nText.\n";
    std::filesystem::create_directory(output());
    EXPECT_EQ(print(dir_.path() / "short.md"), 1);
    EXPECT_NE(error_.find("cannot write"), std::string::npos) << error_;
}

}  // namespace
}  // namespace kestrix
