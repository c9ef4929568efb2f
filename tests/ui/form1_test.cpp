// SPDX-License-Identifier: GPL-3.0-or-later
// The real window on the offscreen platform, with the serial double and the
// virtual clock behind it: clicks, holds, keys, heights, the table's geometry,
// the tab order, and pictures of the window for people to look at.

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "ui/qt_message_box.h"

#include <algorithm>
#include <cstdlib>

#include "recording_view.h"
#include "window_fixture.h"
#include "serial_double.h"
#include "panel/timer_ticks.h"
#include "timers/virtual_clock.h"
#include "ui/fonts.h"
#include "ui/form1.h"
#include "panel/panel.h"
#include "panel/window_sizes.h"

namespace {

using Lines = std::vector<std::string>;

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class Window : public WindowFixture {
protected:
    QString text(const char *name) const { return qobject_cast<QLabel *>(widget(name))->text(); }
    void ctrlQ(QWidget *target, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(target, Qt::Key_Q, modifiers);
    }
};

TEST_F(Window, AButtonAClickableLabelAndSendReachTheLine)
{
    QTest::mouseClick(widget("Command17"), Qt::LeftButton);
    QTest::mouseClick(widget("Label1"), Qt::LeftButton);
    QTest::mouseClick(widget("Label13"), Qt::LeftButton); // no click action
    QTest::keyClicks(widget("Text1"), QStringLiteral("CR0"));
    QTest::mouseClick(widget("Command95"), Qt::LeftButton);
    EXPECT_EQ(serial.writes(), Lines({"C00\r", "CR PROJH\r", "CR0\r"}));
    EXPECT_EQ(text("Label11"), QStringLiteral(" C R 0 CR "));
}

TEST_F(Window, ADoubleClickOnALabelSendsOnceAndOnlyTheLeftButtonOpensTheFullHeight)
{
    // What a window system delivers for a double-click.
    QWidget *label = widget("Label1");
    const QPointF at = QRectF(label->rect()).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
             QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, label->mapToGlobal(at), Qt::LeftButton,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &event);
    }
    EXPECT_EQ(serial.writes(), Lines({"CR PROJH\r"}));
    ctrlQ(&form);
    const int height = form.height();
    QTest::mouseDClick(widget("Image1"), Qt::RightButton);
    QTest::mouseDClick(widget("Image1"), Qt::MiddleButton);
    EXPECT_EQ(form.height(), height);
    QTest::mouseDClick(widget("Image1"), Qt::LeftButton);
    EXPECT_GT(form.height(), height);
}

TEST(WarningBox, AWarningWhileABoxIsOpenReplacesItsTextAndNeverNests)
{
    QWidget parent;
    QtMessageBox box(&parent);
    int boxesSeen = 0;
    QString shown;
    // 1,000 outages while nobody is at the panel, then somebody presses OK.
    QTimer::singleShot(0, [&] {
        for (int flap = 0; flap < 1000; ++flap)
            box.warning("outage " + std::to_string(flap));
        for (QWidget *top : QApplication::topLevelWidgets())
            boxesSeen += qobject_cast<QMessageBox *>(top) && top->isVisible() ? 1 : 0;
        shown = box.openBox()->text();
        box.openBox()->accept();
    });
    box.warning("the first");
    EXPECT_EQ(boxesSeen, 1);
    EXPECT_EQ(shown, QStringLiteral("outage 999"));
    EXPECT_EQ(box.openBox(), nullptr);
}

TEST(WarningBox, ABoxAboutTheLineClosesWhenTheLineIsBackAndNoOtherDoes)
{
    QWidget parent;
    QtMessageBox box(&parent);
    box.lineBack(); // no box: nothing to close
    QString title;
    // The line comes back while its box is open, with nobody at the panel.
    QTimer::singleShot(0, [&] {
        title = box.openBox()->windowTitle();
        box.lineBack();
    });
    box.lineWarning("COM1 (/dev/ttyUSB0): the device went away");
    EXPECT_EQ(box.openBox(), nullptr) << "the box did not close";
    EXPECT_EQ(title, QStringLiteral("QV550 Control"));
    // A line box whose text another warning replaced says something else
    // now: it stays for the user to read.
    bool stillOpen = false;
    QTimer::singleShot(0, [&] {
        box.warning("The port mapping was not used");
        box.lineBack();
        stillOpen = box.openBox() != nullptr;
        if (box.openBox())
            box.openBox()->accept();
    });
    box.lineWarning("COM1 (/dev/ttyUSB0): the device went away");
    EXPECT_TRUE(stillOpen);
    // And a warning that is not about the line is not closed by it.
    QTimer::singleShot(0, [&] {
        box.lineBack();
        stillOpen = box.openBox() != nullptr;
        if (box.openBox())
            box.openBox()->accept();
    });
    box.warning("COM2 cannot be opened");
    EXPECT_TRUE(stillOpen);
}

TEST_F(Window, ThePortOptionsAlwaysShowThePortInUseAndExactlyOneSpeed)
{
    // Read off the painted options: the chosen one of each pair has the dot,
    // the darker indicator.
    const auto dark = [&](const char *name) {
        const QImage image = widget(name)->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < std::min(image.width(), 16 * qRound(image.devicePixelRatio())); ++x)
                count += qGray(image.pixel(x, y)) < 80;
        }
        return count;
    };
    const auto checked = [&] {
        std::string which;
        for (const char *name : {"Option1", "Option2", "Option9", "Option10"})
            which += qobject_cast<QRadioButton *>(widget(name))->isChecked() ? std::string(name) + " " : "";
        const bool com1 = which.find("Option1 ") != std::string::npos;
        const bool fast = which.find("Option9 ") != std::string::npos;
        EXPECT_GT(dark(com1 ? "Option1" : "Option2"), dark(com1 ? "Option2" : "Option1")) << which;
        EXPECT_GT(dark(fast ? "Option9" : "Option10"), dark(fast ? "Option10" : "Option9")) << which;
        return which;
    };
    EXPECT_EQ(checked(), "Option1 Option9 ");
    QTest::mouseClick(widget("Command33"), Qt::LeftButton); // COM: the settings
    struct Step {
        const char *click;
        const char *shows;
    };
    serial.setMissing(2);
    for (const Step &step : {Step{"Option2", "Option1 Option9 "}, // COM2 failed: back on COM1
             Step{"Option10", "Option1 Option10 "}, Step{"Option1", "Option1 Option10 "}}) {
        widget("Frame8")->show();
        QTest::mouseClick(widget(step.click), Qt::LeftButton);
        EXPECT_EQ(checked(), step.shows) << step.click;
    }
    serial.setPresent(2);
    for (const Step &step : {Step{"Option2", "Option2 Option10 "}, Step{"Option9", "Option2 Option9 "},
             Step{"Option1", "Option1 Option9 "}, Step{"Option2", "Option2 Option9 "}}) {
        widget("Frame8")->show();
        QTest::mouseClick(widget(step.click), Qt::LeftButton);
        EXPECT_EQ(checked(), step.shows) << step.click;
        EXPECT_EQ(serial.port(), step.shows[6] - '0') << step.click;
    }
}

TEST_F(Window, AnOptionClickChoosesTheAddress)
{
    QTest::mouseClick(widget("Option6"), Qt::LeftButton);
    QTest::mouseClick(widget("Command18"), Qt::LeftButton);
    EXPECT_EQ(serial.writes(), Lines({"A002C01\r"}));
    EXPECT_TRUE(qobject_cast<QRadioButton *>(widget("Option6"))->isChecked());
    EXPECT_FALSE(qobject_cast<QRadioButton *>(widget("Option3"))->isChecked());
}

TEST_F(Window, AHoldWithTheRightButtonRepeats)
{
    QWidget *zoom = widget("Command15");
    QTest::mousePress(zoom, Qt::RightButton);
    EXPECT_TRUE(qobject_cast<QAbstractButton *>(zoom)->isDown());
    clock.advance(100);
    QTest::mouseRelease(zoom, Qt::RightButton);
    EXPECT_EQ(serial.writes(), Lines({"C47\r", "C47\r", "C47\r"}));
    EXPECT_FALSE(qobject_cast<QAbstractButton *>(zoom)->isDown());
}

TEST_F(Window, AHoldEndsWhenTheWindowLosesTheMouseToAnother)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::mousePress(widget("Command15"), Qt::LeftButton);
    clock.advance(100);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(timer1->enabled()) << "the release never comes: the repeat must stop";
    const auto sent = serial.writes().size();
    clock.advance(500);
    EXPECT_EQ(serial.writes().size(), sent);
}

TEST_F(Window, AClickOnAHoldButtonSendsOnlyThePress)
{
    QTest::mouseClick(widget("Command1"), Qt::LeftButton);
    clock.advance(1000);
    EXPECT_EQ(serial.writes(), Lines({"C09\r"}));
}

void sendKey(QWidget *to, QEvent::Type type, int key, bool autoRepeat)
{
    QKeyEvent event(type, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier,
        key == Qt::Key_Space ? QStringLiteral(" ") : QString(), autoRepeat);
    QApplication::sendEvent(to, &event);
}

TEST_F(Window, SpaceOrEnterHoldsAFocusedHoldButtonAsTheMouseDoesAndTheKeysOwnRepeatsAddNothing)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto *zoom = qobject_cast<QAbstractButton *>(widget("Command15")); // every 50 ms
    zoom->setFocus();
    std::size_t sent = 0;
    for (const int key : {int(Qt::Key_Space), int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        sendKey(zoom, QEvent::KeyPress, key, false);
        EXPECT_EQ(serial.writes().size(), sent + 1) << "the first command at once, key " << key;
        EXPECT_TRUE(zoom->isDown());
        for (int tick = 0; tick < 4; ++tick) {
            // What X sends while a key is held: a release and a press, both
            // marked as the key's own repeat.
            sendKey(zoom, QEvent::KeyRelease, key, true);
            sendKey(zoom, QEvent::KeyPress, key, true);
            clock.advance(50);
        }
        // A release and a press at once that Qt could not mark as the key's
        // repeat (the press not yet read when the release came).
        sendKey(zoom, QEvent::KeyRelease, key, false);
        sendKey(zoom, QEvent::KeyPress, key, false);
        EXPECT_TRUE(zoom->isDown());
        sendKey(zoom, QEvent::KeyRelease, key, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !zoom->isDown(); }, 5000));
        EXPECT_FALSE(timer1->enabled());
        clock.advance(1000);
        sent += 5;
        EXPECT_EQ(serial.writes(), Lines(sent, "C47\r")) << "key " << key;
    }
}

TEST_F(Window, AKeyHeldButtonLetsGoWhenItLosesTheFocus)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QWidget *volume = widget("Command1"); // every 250 ms
    volume->setFocus();
    sendKey(volume, QEvent::KeyPress, Qt::Key_Space, false);
    clock.advance(250);
    widget("Command17")->setFocus();
    EXPECT_FALSE(timer1->enabled());
    clock.advance(1000);
    sendKey(widget("Command17"), QEvent::KeyRelease, Qt::Key_Space, false);
    EXPECT_EQ(serial.writes(), Lines({"C09\r", "C09\r"}));
}

TEST_F(Window, AnAssistiveToolsPressStepsAHoldButtonOnce)
{
    QAccessibleInterface *zoom = QAccessible::queryAccessibleInterface(widget("Command15"));
    ASSERT_NE(zoom->actionInterface(), nullptr);
    zoom->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !serial.writes().empty(); }, 5000));
    clock.advance(1000);
    QTest::qWait(200); // a second click would have come by now
    EXPECT_EQ(serial.writes(), Lines({"C47\r"}));
    EXPECT_FALSE(timer1->enabled());
}

TEST_F(Window, EnterActivatesTheFocusedButtonOptionOrAskingLabel)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    widget("Command17")->setFocus();
    sendKey(widget("Command17"), QEvent::KeyPress, Qt::Key_Return, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serial.writes().size() == 1; }, 5000));
    widget("Label1")->setFocus();
    sendKey(widget("Label1"), QEvent::KeyPress, Qt::Key_Enter, false);
    sendKey(widget("Label1"), QEvent::KeyPress, Qt::Key_Enter, true); // held: once
    widget("Label3")->setFocus();
    sendKey(widget("Label3"), QEvent::KeyPress, Qt::Key_Space, false);
    ctrlQ(&form);
    widget("Option5")->setFocus();
    sendKey(widget("Option5"), QEvent::KeyPress, Qt::Key_Return, false);
    widget("Command18")->setFocus();
    sendKey(widget("Command18"), QEvent::KeyPress, Qt::Key_Enter, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serial.writes().size() == 4; }, 5000));
    EXPECT_EQ(serial.writes(), Lines({"C00\r", "CR PROJH\r", "CR VOLUME\r", "A001C01\r"}));
}

TEST_F(Window, ReceivedBytesAreShownAsPlainTextNeverMarkup)
{
    QTest::mouseClick(widget("Command38"), Qt::LeftButton); // PC type copies the reply
    serial.feed("<b>X</b>&amp;\r");
    EXPECT_EQ(text("Label12"), QStringLiteral(" < b > X < / b > & a m p ; CR "));
    EXPECT_EQ(text("Label22"), text("Label12"));
    for (QLabel *label : form.findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

struct KeyCase {
    Qt::KeyboardModifiers modifiers;
    bool opens;
};

TEST_F(Window, OnlyCtrlQOpensTheDataPanel)
{
    const std::vector<KeyCase> cases = {{Qt::NoModifier, false},
        {Qt::ControlModifier | Qt::ShiftModifier, false}, {Qt::ControlModifier | Qt::AltModifier, false},
        {Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, false}, {Qt::ControlModifier, true}};
    for (const KeyCase &c : cases) {
        ctrlQ(widget("Command17"), c.modifiers);
        EXPECT_EQ(form.height(), c.opens ? kDataPanelHeight : 5350.0F);
    }
    EXPECT_EQ(form.QWidget::height(), (7200 - 370) / 15);
    EXPECT_TRUE(widget("Command34")->isVisible());
    EXPECT_EQ(qobject_cast<QAbstractButton *>(widget("Command34"))->text(), QStringLiteral("CLOSE"));
}

TEST_F(Window, CtrlQInTheEntryBoxOpensThePanelAndTheBoxStillGetsTheKey)
{
    struct Counter : QObject {
        int keys = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            keys += event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Q;
            return false;
        }
    } counter;
    QWidget *entry = widget("Text1");
    entry->installEventFilter(&counter);
    ctrlQ(entry);
    EXPECT_EQ(form.height(), kDataPanelHeight);
    EXPECT_EQ(counter.keys, 1);
    QTest::keyClicks(entry, QStringLiteral("ab"));
    EXPECT_EQ(qobject_cast<QLineEdit *>(entry)->text(), QStringLiteral("ab"));
}

TEST_F(Window, TheHeightsCycleAndTheTopEdgeAndWidthStay)
{
    const QPoint topLeft = form.pos();
    const int width = form.QWidget::width();
    ctrlQ(widget("Command17"));
    QTest::mouseDClick(widget("Image1"), Qt::LeftButton);
    EXPECT_EQ(form.height(), kFullHeight);
    EXPECT_EQ(form.QWidget::height(), 582);
    QAbstractButton *dataButton = qobject_cast<QAbstractButton *>(widget("Command34"));
    const std::vector<std::pair<float, QString>> cycle
        = {{5350.0F, qs(kShowDataCaption)}, {6645.0F, qs(kHideDataCaption)}, {5350.0F, qs(kShowDataCaption)}};
    for (const auto &[height, caption] : cycle) {
        QTest::mouseClick(dataButton, Qt::LeftButton);
        EXPECT_EQ(form.height(), height);
        EXPECT_EQ(dataButton->text(), caption);
    }
    EXPECT_EQ(form.pos(), topLeft);
    EXPECT_EQ(form.QWidget::width(), width);
    QTest::mouseDClick(widget("Image1"), Qt::LeftButton); // needs Ctrl+Q again
    EXPECT_EQ(form.height(), 5350.0F);
}

TEST_F(Window, EveryControlSitsWhereTheTableSaysWithItsLooks)
{
    for (const ControlRow &row : kControls) {
        if (row.kind == ControlKind::Line || row.kind == ControlKind::Timer
            || row.kind == ControlKind::Serial)
            continue;
        const std::string name(row.name);
        QWidget *w = form.control(row.name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->objectName().toStdString(), name);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), std::string(row.container)) << name;
        const QRect expected(twipsToPixels(row.left), twipsToPixels(row.top),
            twipsToPixels(row.left + row.width) - twipsToPixels(row.left),
            twipsToPixels(row.top + row.height) - twipsToPixels(row.top));
        EXPECT_EQ(w->geometry(), expected) << name;
        const FontRow &font = fontRowFor(row.font);
        EXPECT_EQ(w->font().family(), qs(font.face)) << name;
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), font.points) << name;
        EXPECT_EQ(w->font().bold(), font.bold) << name;
        if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            EXPECT_EQ(button->text().replace(QLatin1Char('\n'), QLatin1Char(' ')), qs(row.caption)) << name;
            const QPalette::ColorRole face
                = row.kind == ControlKind::Button ? QPalette::Button : QPalette::Window;
            if (row.back != kSystemColour) {
                EXPECT_EQ(w->palette().color(face).rgb() & 0xFFFFFF, static_cast<QRgb>(row.back)) << name;
            }
        } else if (auto *label = qobject_cast<QLabel *>(w); label && row.kind == ControlKind::Label) {
            EXPECT_EQ(label->text(), qs(row.caption)) << name;
            EXPECT_TRUE(label->autoFillBackground()) << name;
            EXPECT_EQ(w->palette().color(QPalette::Window).rgb() & 0xFFFFFF, static_cast<QRgb>(row.back))
                << name;
            EXPECT_EQ(w->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, static_cast<QRgb>(row.text))
                << name;
        }
        EXPECT_EQ(w->isHidden(), row.start == Start::Hidden) << name;
    }
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ZORP  QV550  CONTROL  Ver.140"));
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(qobject_cast<QLabel *>(widget("Image1"))->pixmap().size(), QSize(80, 26));
}

TEST_F(Window, ControlsAreRealWidgetsThatAssistiveToolsSeeWithRoleAndName)
{
    struct Seen {
        const char *control;
        QAccessible::Role role;
        QString name;
    };
    for (const Seen &seen : {Seen{"Command17", QAccessible::Button, QStringLiteral("POWER ON")},
             Seen{"Command3", QAccessible::Button,
                 QStringLiteral("Clear the on-screen display (DISPLAY CLEAR)")},
             Seen{"Option5", QAccessible::RadioButton, QStringLiteral("Address 001")},
             Seen{"Label1", QAccessible::StaticText, QStringLiteral("Ask POWER")},
             Seen{"Label13", QAccessible::StaticText, QStringLiteral("Zoom")},
             Seen{"Frame1", QAccessible::Grouping, QStringLiteral("POWER")},
             Seen{"Text1", QAccessible::EditableText, QString()}}) {
        QAccessibleInterface *seenBy = QAccessible::queryAccessibleInterface(widget(seen.control));
        ASSERT_NE(seenBy, nullptr) << seen.control;
        EXPECT_EQ(seenBy->role(), seen.role) << seen.control;
        if (!seen.name.isEmpty()) {
            EXPECT_EQ(seenBy->text(QAccessible::Name), seen.name) << seen.control;
        }
        const QWidget *w = widget(seen.control);
        const QRect place(w->mapToGlobal(QPoint(0, 0)), w->size());
        EXPECT_FALSE(seenBy->rect().isEmpty()) << seen.control;
        EXPECT_TRUE(place.contains(seenBy->rect())) << seen.control;
    }
}

TEST_F(Window, TheFocusStartsOnPowerOn)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), widget("Command17"));
}

TEST_F(Window, TheSettingsFrameCoversTheComButtonWhenShown)
{
    QTest::mouseClick(widget("Command33"), Qt::LeftButton);
    ASSERT_TRUE(widget("Frame8")->isVisible());
    const QWidget *com = widget("Command33");
    const QWidget *top = form.childAt(com->geometry().center());
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top == widget("Frame8") || widget("Frame8")->isAncestorOf(top))
        << top->objectName().toStdString();
}

TEST_F(Window, TabWalksTheControlsInTheTablesOrderAndNeverStopsOffTheWindowAtAnyHeight)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (const float height : {5350.0F, 6645.0F, 7200.0F, 9100.0F, 5350.0F}) {
        form.setHeight(height);
        const QRect shown = form.rect();
        const auto inside = [&](const QWidget *w) {
            return shown.contains(QRect(w->mapTo(&form, QPoint(0, 0)), w->size()));
        };
        std::vector<std::pair<int, std::string>> expected;
        for (const ControlRow &row : kControls) {
            QWidget *w = form.control(row.name);
            // Tab visits the selected option of a group; the arrow keys move within it.
            const auto *option = qobject_cast<QRadioButton *>(w);
            if (option && !option->isChecked())
                continue;
            if (row.tab >= 0 && w && (w->focusPolicy() & Qt::StrongFocus) && w->isVisibleTo(&form)
                && inside(w))
                expected.emplace_back(row.tab, std::string(row.name));
        }
        std::sort(expected.begin(), expected.end());
        ASSERT_FALSE(expected.empty());
        form.control(expected.front().second)->setFocus();
        std::vector<std::string> walked;
        for (std::size_t i = 0; i < expected.size() + 2; ++i) {
            QWidget *focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            EXPECT_TRUE(inside(focused))
                << focused->objectName().toStdString() << " is off the window at " << height;
            walked.push_back(focused->objectName().toStdString());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(walked[i], expected[i].second) << "tab step " << i << " at " << height;
        EXPECT_EQ(walked[expected.size()], expected.front().second) << "round and back at " << height;
    }
    // The fourteen labels that ask the projector are on the way.
    EXPECT_TRUE(widget("Label1")->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(widget("Label13")->focusPolicy() & Qt::TabFocus);
}

TEST_F(Window, AFocusedControlTheWindowNoLongerShowsPassesTheFocusOn)
{
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ctrlQ(&form);
    ctrlQ(&form); // again: the full height
    EXPECT_EQ(form.height(), kFullHeight);
    widget("Command97")->setFocus(); // fan speed, at the bottom
    ctrlQ(&form);
    EXPECT_EQ(form.height(), kDataPanelHeight);
    QWidget *focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    EXPECT_NE(focused, widget("Command97"));
    EXPECT_TRUE(form.rect().contains(QRect(focused->mapTo(&form, QPoint(0, 0)), focused->size())))
        << focused->objectName().toStdString();
    // The logo's actions for assistive tools: to the full height and back.
    QAccessibleInterface *logo = QAccessible::queryAccessibleInterface(widget("Image1"));
    ASSERT_NE(logo->actionInterface(), nullptr);
    logo->actionInterface()->doAction(QStringLiteral("Back to compact height"));
    EXPECT_EQ(form.height(), 5350.0F);
    logo->actionInterface()->doAction(QStringLiteral("Open full height"));
    EXPECT_EQ(form.height(), kFullHeight);
}

TEST_F(Window, PicturesOfTheFourHeights)
{
    const QString folder = QStringLiteral(PANEL_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    QTest::mouseClick(widget("Command44"), Qt::LeftButton);
    serial.feed("00\r");
    const std::vector<std::pair<float, const char *>> heights
        = {{5350.0F, "compact"}, {6645.0F, "monitor"}, {7200.0F, "data-panel"}, {9100.0F, "full"}};
    widget("Command34")->show();
    for (const auto &[height, name] : heights) {
        form.setHeight(height);
        const QImage picture = form.grab().toImage();
        EXPECT_EQ(picture.height(), twipsToPixels(height - kTitleAllowance) * picture.devicePixelRatio());
        EXPECT_TRUE(picture.save(folder + QStringLiteral("/window-%1.png").arg(QLatin1String(name))));
    }
}

} // namespace
