// Prints the manual, written in Markdown, as the PDF file the program opens
// from Help. Runs at build time on Qt's offscreen platform.
//   manual-pdf MANUAL.md OUTPUT.pdf TITLE
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <cstdio>

namespace {

// The page's margins are the 2 cm that printing a document keeps on every
// side; a line has A4's width less those two, in points.
constexpr double kTextWidthPoints = (210.0 - 2 * 20.0) / 25.4 * 72.0;

// A line of a code block: every piece of it in a fixed-pitch font, outside
// a table (a cell that holds only a `name` wraps as the table needs).
bool isCode(const QTextBlock& block) {
    if (block.text().isEmpty() || QTextCursor(block).currentTable() != nullptr) return false;
    const QTextBlockFormat format = block.blockFormat();
    if (format.hasProperty(QTextFormat::BlockCodeFence) ||
        format.hasProperty(QTextFormat::BlockCodeLanguage))
        return true;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        if (!format.fontFixedPitch() && !QFontInfo(format.font()).fixedPitch()) return false;
    }
    return true;
}

// A command in the manual is copied from it: its lines are never wrapped.
// A block whose longest line would not fit is set in smaller type, as far
// as it stays readable; a line longer still runs past the margin whole
// rather than being broken.
void keepCodeLinesWhole(QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!isCode(block)) continue;
        QTextCursor cursor(block);
        QTextBlockFormat blockFormat = block.blockFormat();
        blockFormat.setNonBreakableLines(true);
        cursor.setBlockFormat(blockFormat);

        QFont font = block.begin().fragment().charFormat().font();
        // Less what a list or quote indents it by, and a little to spare.
        int depth = blockFormat.indent();
        if (const QTextList* list = block.textList()) depth += list->format().indent();
        const double room =
            0.97 * (kTextWidthPoints - blockFormat.leftMargin() - blockFormat.rightMargin() -
                    blockFormat.textIndent() - depth * document.indentWidth());
        const QStringList lines = block.text().split(QChar::LineSeparator);
        auto fits = [&](double points) {
            font.setPointSizeF(points);
            const QFontMetricsF metrics(font);
            for (const QString& line : lines) {
                // Measured at the screen's dots per inch; in points here.
                if (metrics.horizontalAdvance(line) * 72.0 / metrics.fontDpi() > room) return false;
            }
            return true;
        };
        double size = std::min(font.pointSizeF() > 0 ? font.pointSizeF() : 9.0, 9.0);
        while (size > 6.0 && !fits(size))
            size -= 0.25;
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat sized;
        sized.setFontPointSize(size);
        cursor.mergeCharFormat(sized);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: manual-pdf MANUAL.md OUTPUT.pdf TITLE\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "manual-pdf: cannot read %s: %s\n", argv[1],
                     qPrintable(source.errorString()));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());
    if (markdown.trimmed().isEmpty()) {
        std::fprintf(stderr, "manual-pdf: %s is empty\n", argv[1]);
        return 1;
    }

    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    keepCodeLinesWhole(document);

    // Written beside the target and renamed over it at the end, so a failed
    // run never leaves half a manual behind.
    QSaveFile output(QString::fromLocal8Bit(argv[2]));
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "manual-pdf: cannot write %s: %s\n", argv[2],
                     qPrintable(output.errorString()));
        return 1;
    }
    {
        QPdfWriter writer(&output);
        writer.setTitle(QString::fromUtf8(argv[3]));
        writer.setCreator(QStringLiteral("Kestrix"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!output.commit()) {
        std::fprintf(stderr, "manual-pdf: cannot write %s: %s\n", argv[2],
                     qPrintable(output.errorString()));
        return 1;
    }
    return 0;
}
