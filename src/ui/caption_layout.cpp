// SPDX-License-Identifier: GPL-3.0-or-later
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

namespace {

CaptionLayout layoutAt(const QString &caption, const QFont &font, const QSize &box)
{
    const QFontMetrics metrics(font);
    CaptionLayout layout;
    layout.font = font;
    layout.lines = breakLines(caption, metrics, captionRoom(box.width()));
    layout.pitch = metrics.height();
    const auto count = static_cast<int>(layout.lines.size());
    if (count > 1 && count * layout.pitch > box.height())
        layout.pitch = std::min(layout.pitch, QFontInfo(font).pixelSize());
    return layout;
}

// Inside the edge and clear of the focus rectangle on all four sides.
bool fitsInside(const CaptionLayout &layout, const QSize &box)
{
    const QFontMetrics metrics(layout.font);
    for (const QString &line : layout.lines) {
        if (metrics.horizontalAdvance(line) > box.width() - 8)
            return false;
    }
    return static_cast<int>(layout.lines.size()) * layout.pitch <= captionDepth(box.height());
}

} // namespace

CaptionLayout layoutCaption(const QString &caption, const QFont &font, const QSize &box)
{
    // A caption of several lines that would reach the button's edge (or run
    // through its focus rectangle) is set a pixel smaller at a time until it
    // fits inside; a one-line caption is set as it always was.
    CaptionLayout layout = layoutAt(caption, font, box);
    if (layout.lines.size() == 1)
        return layout;
    for (int pixels = QFontInfo(font).pixelSize() - 1; !fitsInside(layout, box) && pixels >= 6; --pixels) {
        QFont smaller = font;
        smaller.setPixelSize(pixels);
        layout = layoutAt(caption, smaller, box);
    }
    return layout;
}
