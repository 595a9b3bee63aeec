// Prints the manual, written in Markdown, as the PDF file the program opens
// from Help. Runs at build time on Qt's offscreen platform.
//   manual-pdf MANUAL.md OUTPUT.pdf TITLE
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdio>

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
                                         QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!output.commit()) {
        std::fprintf(stderr, "manual-pdf: cannot write %s: %s\n", argv[2],
                     qPrintable(output.errorString()));
        return 1;
    }
    return 0;
}
