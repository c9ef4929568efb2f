// SPDX-License-Identifier: GPL-3.0-or-later
// What the user sees, read from painted pixels of the real widgets: button
// faces in exactly their colours, option boxes, label borders, stacking,
// captions that fit whole, and the window on the screen. Run at scale 1 and,
// by CTest, again at scale 2.

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "window_fixture.h"
#include "panel/live_lights.h"
#include "owner/live_state.h"
#include "ui/caption_layout.h"
#include "panel/control_table.h"

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRgb rgbOf(std::int32_t colour)
{
    return qRgb((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF) & 0xFFFFFF;
}

// The colour painted at logical point (x, y) of `widget`, at any scale.
QRgb paintedAt(QWidget *widget, int x, int y)
{
    const QImage image = widget->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    return image.pixel(static_cast<int>(x * scale + scale / 2), static_cast<int>(y * scale + scale / 2))
        & 0xFFFFFF;
}

using Pixels = WindowFixture;

TEST_F(Pixels, EveryButtonFaceShowsExactlyItsBackColourRaisedAndPressed)
{
    for (const ControlRow &row : kControls) {
        if (row.kind != ControlKind::Button || row.back == kSystemColour)
            continue;
        auto *button = qobject_cast<QAbstractButton *>(form.control(row.name));
        const int h = button->height();
        const int w = button->width();
        for (const bool down : {false, true}) {
            button->setDown(down);
            // Inside the two-pixel edge, clear of the caption: the face's rim.
            EXPECT_EQ(paintedAt(button, 2, h / 2), rgbOf(row.back)) << row.name << (down ? " pressed" : "");
            EXPECT_EQ(paintedAt(button, w - 3, h / 2), rgbOf(row.back))
                << row.name << (down ? " pressed" : "");
        }
        button->setDown(false);
        EXPECT_EQ(paintedAt(button, 0, 0), 0xFFFFFFU) << row.name << ": raised edge";
        EXPECT_EQ(paintedAt(button, w - 1, h - 1), 0x000000U) << row.name << ": raised edge";
    }
}

TEST_F(Pixels, OptionBoxesAreTheirBackColourAndTheirWholeBoxSelects)
{
    form.setHeight(9100.0F);
    for (const ControlRow &row : kControls) {
        if (row.kind != ControlKind::Option)
            continue;
        form.setVisible("Frame8", true); // a port choice hides it again
        auto *option = qobject_cast<QRadioButton *>(form.control(row.name));
        ASSERT_TRUE(option->isVisible()) << row.name;
        const QPoint right(option->width() - 2, option->height() / 2);
        EXPECT_EQ(paintedAt(option, right.x(), right.y()), rgbOf(row.back)) << row.name;
        QSignalSpy clicked(option, &QAbstractButton::clicked);
        QTest::mouseClick(option, Qt::LeftButton, {}, right);
        EXPECT_EQ(clicked.count(), 1) << row.name << ": a click on the right of its box";
    }
}

TEST_F(Pixels, BorderedLabelsHaveOneFlatLineOnEachSide)
{
    for (const ControlRow &row : kControls) {
        if (row.kind != ControlKind::Label || !row.border)
            continue;
        QWidget *label = form.control(row.name);
        const int w = label->width();
        const int h = label->height();
        for (const QPoint edge :
            {QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, 0), QPoint(w / 2, h - 1)})
            EXPECT_EQ(paintedAt(label, edge.x(), edge.y()), 0x000000U)
                << row.name << " at " << edge.x() << "," << edge.y();
        for (const QPoint inside :
            {QPoint(1, h / 2), QPoint(w - 2, h / 2), QPoint(w / 2, 1), QPoint(w / 2, h - 2)})
            EXPECT_EQ(paintedAt(label, inside.x(), inside.y()), rgbOf(row.back)) << row.name;
    }
}

TEST_F(Pixels, TheEntryBoxEdgeIsNotCoveredByItsCaption)
{
    QWidget *entry = form.control("Text1");
    QWidget *caption = form.control("Label26");
    ASSERT_TRUE(caption->geometry().intersects(entry->geometry()));
    QWidget *frame = entry->parentWidget();
    const QList<QObject *> stack = frame->children();
    EXPECT_GT(stack.indexOf(entry), stack.indexOf(caption)) << "the entry box lies above \"CMD\"";
    form.setHeight(9100.0F);
    const QPoint edge = entry->geometry().topLeft() + QPoint(0, entry->height() / 2);
    EXPECT_NE(paintedAt(frame, edge.x(), edge.y()), 0xC0C0C0U);
}

TEST_F(Pixels, EveryCaptionFitsItsButtonWhole)
{
    form.control("Command34")->show();
    for (const ControlRow &row : kControls) {
        if (row.kind != ControlKind::Button)
            continue;
        QWidget *button = form.control(row.name);
        std::vector<QString> captions = {qs(row.caption)};
        if (row.name == "Command34")
            captions.push_back(qs("\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044"));
        for (const QString &caption : captions) {
            const CaptionLayout layout = layoutCaption(caption, button->font(), button->size());
            const QFontMetrics metrics(layout.font);
            EXPECT_EQ(layout.lines.join(QString()).remove(QLatin1Char(' ')),
                QString(caption).remove(QLatin1Char(' ')))
                << row.name << ": characters lost";
            for (const QString &line : layout.lines)
                EXPECT_LE(metrics.horizontalAdvance(line), captionRoom(button->width()))
                    << row.name << ": \"" << line.toStdString() << "\"";
            // Lines are measured against the room inside the raised edge and
            // the focus rectangle, not the whole button.
            if (layout.lines.size() > 1) {
                EXPECT_LE(layout.lines.size() * layout.pitch, captionDepth(button->height())) << row.name;
            }
            EXPECT_GE(layout.pitch, QFontInfo(layout.font).pixelSize())
                << row.name << ": lines would overlap";
        }
    }
}

TEST_F(Pixels, TheDataButtonsCaptionsStayInsideItsEdgeAndClearOfItsFocusRectangle)
{
    auto *button = qobject_cast<QAbstractButton *>(form.control("Command34"));
    button->show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    button->setFocus();
    ASSERT_TRUE(button->hasFocus());
    button->setText(QString());
    const QImage bare = button->grab().toImage();
    const int scale = qRound(bare.devicePixelRatio());
    const int band = 4 * scale; // the raised edge and the focus rectangle
    for (const char *caption : {"\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B",
             "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044"}) {
        button->setText(qs(caption));
        const QImage shown = button->grab().toImage();
        int inked = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const bool inBand
                    = y < band || y >= shown.height() - band || x < band || x >= shown.width() - band;
                inked += inBand && shown.pixel(x, y) != bare.pixel(x, y);
            }
        }
        EXPECT_EQ(inked, 0) << caption;
        EXPECT_NE(shown, bare) << caption << ": the caption is drawn";
    }
}

TEST_F(Pixels, TheDataButtonsAccessibleNameFollowsItsCaption)
{
    auto *button = qobject_cast<QAbstractButton *>(form.control("Command34"));
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Data panel: show the traffic monitor"));
    form.setCaption("Command34", "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3057\u306A\u3044");
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Data panel: hide the traffic monitor"));
    form.setCaption("Command34", "CLOSE");
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Data panel: close (CLOSE)"));
}

TEST_F(Pixels, TheWindowStaysOnTheScreenAndWhatItOpensIsInReach)
{
    // The offscreen screen is 800x600: the full height does not fit below
    // the window's place at scale 1, nor does any height at scale 2.
    const QRect available = form.screen()->availableGeometry();
    EXPECT_GE(form.pos().x(), available.left());
    const QPoint placed = form.pos();
    for (const float height : {6645.0F, 7200.0F, 9100.0F, 5350.0F}) {
        form.setHeight(height);
        const int bottom = form.pos().y() + form.QWidget::height() + twipsToPixels(kTitleAllowance);
        // Where it was put, or risen just enough to keep its bottom rows on screen.
        EXPECT_LE(bottom, available.bottom() + 1) << height;
        EXPECT_TRUE(form.pos() == placed || bottom == available.bottom() + 1) << height;
        EXPECT_EQ(form.pos().x(), placed.x()) << height;
    }
    EXPECT_EQ(form.pos(), placed); // back to its place when short again
}

// The vertical middle of what is drawn in `area` of `widget` in a colour
// other than `background`, in logical pixels.
double inkMiddle(QWidget *widget, QRect area, QRgb background)
{
    const QImage image = widget->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    int top = -1, bottom = -1;
    for (int y = int(area.top() * scale); y < int((area.bottom() + 1) * scale); ++y) {
        for (int x = int(area.left() * scale); x < int((area.right() + 1) * scale); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != background) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
        }
    }
    return top < 0 ? -1.0 : (top + bottom + 1) / 2.0 / scale;
}

TEST_F(Pixels, TheNoShowAndFreezeButtonsHaveCleanCorners)
{
    // Their captions are narrower than the pair of buttons below: the
    // buttons' top edges show whole, not as stubs at their outer corners.
    const QImage window = form.grab().toImage();
    const qreal scale = window.devicePixelRatio();
    for (const char *name : {"Command21", "Command22", "Command25", "Command26"}) {
        QWidget *button = form.control(name);
        const QPoint at = button->mapTo(&form, QPoint(0, 0));
        int white = 0;
        for (int x = 0; x < button->width() - 1; ++x)
            white += (window.pixel(int((at.x() + x) * scale), int(at.y() * scale)) & 0xFFFFFF) == 0xFFFFFFU;
        EXPECT_EQ(white, button->width() - 1) << name << ": the top edge is whole";
    }
}

TEST_F(Pixels, TheMatrixRowNumbersAreLevelWithTheirRowsCaptions)
{
    for (const auto &[label, button] :
        std::vector<std::pair<const char *, const char *>>{{"Label15", "Command63"}, {"Label16", "Command71"},
            {"Label24", "Command79"}, {"Label25", "Command87"}}) {
        QWidget *number = form.control(label);
        QWidget *first = form.control(button);
        ASSERT_EQ(number->y(), first->y()) << label;
        const double numberMiddle = inkMiddle(number, number->rect(), 0xC0C0C0);
        const double captionMiddle = inkMiddle(first, first->rect().adjusted(3, 3, -3, -3), 0xC0FFFF);
        ASSERT_GT(numberMiddle, 0) << label;
        EXPECT_NEAR(numberMiddle, captionMiddle, 1.0) << label << " beside " << button;
    }
}

TEST_F(Pixels, AHeightChangeKeepsTheWindowWhereTheUserPutIt)
{
    const QRect available = form.screen()->availableGeometry();
    if (available.width() < form.frameGeometry().width() + 40 || available.height() < 620)
        GTEST_SKIP() << "at this scale the window is wider or the full height taller than the screen: "
                        "there is no place of the user's own to keep";
    // Low enough that the data panel fits below, but not the full height.
    const QPoint moved(available.left() + 40, available.bottom() + 1 - 500);
    form.move(moved); // the user drags it there
    for (const float height : {7200.0F, 6645.0F, 5350.0F}) {
        form.setHeight(height);
        EXPECT_EQ(form.pos(), moved) << height;
    }
    // The full height does not fit below its place: it rises, and goes back
    // to the user's place when it is short again.
    form.setHeight(9100.0F);
    EXPECT_LT(form.pos().y(), moved.y());
    EXPECT_EQ(form.pos().x(), moved.x());
    form.setHeight(5350.0F);
    EXPECT_EQ(form.pos(), moved);
    // Moved again while risen: that is its place now.
    form.setHeight(9100.0F);
    const QPoint risen(moved.x() + 10, form.pos().y() - 5);
    form.move(risen);
    form.setHeight(7200.0F);
    EXPECT_EQ(form.pos(), risen);
}

} // namespace

// The live state lights the buttons that stand for what the projector does:
// pushed in, the face in the caption's colour and the caption in the face's,
// so that it shows across a room at 1x. Nothing else
// changes by a pixel, nothing moves, and once the state is unknown again the
// window is exactly as without it.
TEST_F(Pixels, LitButtonsArePushedInWithTheirColoursSwappedAndNothingElseChanges)
{
    std::int64_t now = 0;
    LiveState state([&now] { return now; });
    for (const auto &[sent, reply] : std::vector<std::pair<std::string, std::string>>{
             {"CR0\r", "00\r"}, {"CR1\r", "3\r"}, {"CRA\r", "02\r"}, {"CR7\r", "19\r"}, {"C43\r", "\x06"}})
        state.exchanged(sent, reply, true);
    std::map<std::string, QRect> places;
    for (const ControlRow &row : kControls) {
        if (const QWidget *widget = form.control(row.name))
            places[std::string(row.name)] = widget->geometry();
    }
    form.control("Command17")->clearFocus(); // its focus rectangle is no part of the lit look
    const QImage before = form.grab().toImage();

    LiveLights lights(form);
    lights.show(state.toJson(), state.choicesJson());
    const std::set<std::string> lit
        = {"Command17", "Command29", "Command19", "Command22", "Command57", "Command25"};
    EXPECT_EQ(litControls(state.toJson(), state.choicesJson()), lit);
    const QImage shown = form.grab().toImage();
    const qreal scale = shown.devicePixelRatio();
    QRegion litArea;
    for (const std::string &name : lit) {
        auto *button = qobject_cast<QAbstractButton *>(form.control(name));
        const int w = button->width(), h = button->height();
        const QRgb caption = button->palette().color(QPalette::ButtonText).rgb() & 0xFFFFFF;
        EXPECT_EQ(paintedAt(button, 0, 0), 0x000000U) << name << ": pushed in";
        EXPECT_EQ(paintedAt(button, w / 2, 2), caption) << name << ": the face in the caption's colour";
        EXPECT_EQ(paintedAt(button, 2, h - 3), caption) << name;
        // The caption shows, in the face's colour, where it showed before.
        const QImage picture = button->grab().toImage();
        int captionInk = 0;
        for (int y = 3 * picture.devicePixelRatio(); y < picture.height() - 3 * picture.devicePixelRatio();
             ++y) {
            for (int x = 3 * picture.devicePixelRatio(); x < picture.width() - 3 * picture.devicePixelRatio();
                 ++x)
                captionInk += (picture.pixel(x, y) & 0xFFFFFF) != caption;
        }
        EXPECT_GT(captionInk, 10) << name << ": the caption";
        EXPECT_NE(button->accessibleDescription().indexOf(QStringLiteral("Active now.")), -1) << name;
        litArea += QRect(button->mapTo(&form, QPoint(0, 0)) * scale, button->size() * scale);
    }
    for (const auto &[name, place] : places)
        EXPECT_EQ(form.control(name)->geometry(), place) << name;
    int changedOutside = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (!litArea.contains(QPoint(x, y)) && shown.pixel(x, y) != before.pixel(x, y))
                ++changedOutside;
        }
    }
    EXPECT_EQ(changedOutside, 0);
    EXPECT_NE(form.control("Label22")->accessibleDescription().indexOf(
                  QStringLiteral("mode       Input mode 3 (read ")),
        -1);
    form.setHint("Label22", "pc-type: <b>1024</b> & more");
    EXPECT_NE(
        form.control("Label22")->toolTip().indexOf(QStringLiteral("&lt;b&gt;1024&lt;/b&gt; &amp; more")), -1);
    // The hint's names and values in two columns that line up in the
    // tooltip's proportional font, not padded with spaces.
    form.setHint("Label22", "power      Power ON (read 1.0 s ago)\nlamp-time  not read yet");
    QTextDocument hint;
    hint.setHtml(form.control("Label22")->toolTip());
    QTextTable *table = nullptr;
    for (QTextFrame *frame : hint.rootFrame()->childFrames())
        table = table ? table : qobject_cast<QTextTable *>(frame);
    ASSERT_NE(table, nullptr) << form.control("Label22")->toolTip().toStdString();
    ASSERT_EQ(table->rows(), 2);
    ASSERT_EQ(table->columns(), 2);
    const auto cell = [&](int row, int column) {
        QTextCursor from = table->cellAt(row, column).firstCursorPosition();
        from.setPosition(table->cellAt(row, column).lastCursorPosition().position(), QTextCursor::KeepAnchor);
        return from.selectedText();
    };
    EXPECT_EQ(cell(0, 0), QStringLiteral("power"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("Power ON (read 1.0 s ago)"));
    EXPECT_EQ(cell(1, 0), QStringLiteral("lamp-time"));
    EXPECT_EQ(cell(1, 1), QStringLiteral("not read yet"));

    state.unknownFromNow(); // the line went down: nothing is claimed
    lights.show(state.toJson(), state.choicesJson());
    EXPECT_EQ(form.grab().toImage(), before);
}
