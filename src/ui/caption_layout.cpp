// Greedy breaking: each line takes as much as fits, as the platform's own
// text drawing does.

#include "ui/caption_layout.h"

#include <QFontInfo>
#include <QFontMetrics>

namespace {

QStringList breakLines(const QString &caption, const QFontMetrics &metrics, int room)
{
    QStringList lines;
    if (metrics.horizontalAdvance(caption) <= room)
        return {caption};
    if (caption.contains(QLatin1Char(' '))) {
        QString line;
        for (const QString &word : caption.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > room) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
        return lines;
    }
    QString line;
    for (const QChar c : caption) {
        if (!line.isEmpty() && metrics.horizontalAdvance(line + c) > room) {
            lines << line;
            line.clear();
        }
        line += c;
    }
    lines << line;
    return lines;
}

} // namespace

CaptionLayout layoutCaption(const QString &caption, const QFont &font, const QSize &box)
{
    const QFontMetrics metrics(font);
    CaptionLayout layout;
    layout.lines = breakLines(caption, metrics, captionRoom(box.width()));
    layout.pitch = metrics.height();
    const auto count = static_cast<int>(layout.lines.size());
    if (count > 1 && count * layout.pitch > box.height())
        layout.pitch = std::min(layout.pitch, QFontInfo(font).pixelSize());
    return layout;
}
