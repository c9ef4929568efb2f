// SPDX-License-Identifier: GPL-3.0-or-later
// Font substitution: IPA Gothic (fixed pitch) and IPA PGothic (proportional)
// are Debian's closest match, with other CJK faces after them.

#include "ui/fonts.h"

#include <QFontDatabase>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList installed = QFontDatabase::families();
    const QString fixed = QString::fromUtf8(kFixedGothic.data(), static_cast<qsizetype>(kFixedGothic.size()));
    const QString proportional
        = QString::fromUtf8(kProportionalGothic.data(), static_cast<qsizetype>(kProportionalGothic.size()));
    if (!installed.contains(fixed))
        QFont::insertSubstitutions(fixed,
            {QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic"),
                QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")});
    if (!installed.contains(proportional))
        QFont::insertSubstitutions(proportional,
            {QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP"),
                QStringLiteral("sans-serif")});
}

QFont fontFor(FontKey key)
{
    const FontRow &row = fontRowFor(key);
    QFont font(QString::fromUtf8(row.face.data(), static_cast<qsizetype>(row.face.size())));
    font.setPointSizeF(row.points);
    font.setBold(row.bold);
    return font;
}
