#include "evidence/TranscriptionPdf.h"

#include "core/RuntimeError.h"
#include "player/RtfReader.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace kallomir {

QByteArray TranscriptionPdf(const QString& traduzione, const QString& title) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw RuntimeError(errors::kPathFileAccess,
                           QStringLiteral("PDF della trascrizione non disponibile senza finestre"));
    QTextDocument document;
    LoadRtfOrPlainText(document, traduzione.toUtf8());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Kallomir"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (buffer.data().isEmpty())
        throw RuntimeError(errors::kPathFileAccess,
                           QStringLiteral("PDF della trascrizione non scritto: %1").arg(title));
    return buffer.data();
}

}  // namespace kallomir
