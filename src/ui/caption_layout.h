// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a push button's caption is set: on one line when it fits, otherwise
// broken onto more lines, at blanks where it has them and between any two
// characters where it has none (Japanese), as the original platform's
// multi-line buttons do. Lines that do not fit the button at the font's
// natural spacing are set on a pitch of the font's pixel size, the cell the
// original Japanese Gothic faces use, so "データを表示しない" fits its 25-pixel
// button in two lines with every character whole.

#include <QFont>
#include <QSize>
#include <QStringList>

struct CaptionLayout {
    QStringList lines;
    int pitch = 0; // pixels from one line to the next
    QFont font;    // the button's own, or a smaller one where it would not fit
};

// The room a caption has across a button of `width`: its edge takes two
// pixels on either side.
inline int captionRoom(int width)
{
    return width - 4;
}

// The room a caption of several lines has down a button of `height`: inside
// the raised edge (two pixels) and clear of the focus rectangle (the next
// two), top and bottom.
inline int captionDepth(int height)
{
    return height - 8;
}

CaptionLayout layoutCaption(const QString &caption, const QFont &font, const QSize &box);
