// The real program under a private X server, its COM1 a pseudo-terminal,
// driven by real X input at the controls' places on the window.

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

#include "pseudo_terminal.h"
#include "x_session.h"

namespace {

QString panelBinary()
{
    return QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control");
}

class RealPanel : public ::testing::Test {
protected:
    XSession x;
    PseudoTerminal com1;
    QProcess panel;
    QString window;

    void SetUp() override
    {
        ASSERT_TRUE(x.problem().empty()) << x.problem();
        panel.setProcessEnvironment(x.environment());
        panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel.start(panelBinary(), {QStringLiteral("--com1"), QString::fromStdString(com1.devicePath())});
        ASSERT_TRUE(panel.waitForStarted(5000)) << "cannot start " << panelBinary().toStdString();
        window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
        ASSERT_FALSE(window.isEmpty()) << "the panel's window did not appear";
    }
    void TearDown() override
    {
        if (panel.state() != QProcess::NotRunning) {
            panel.terminate();
            if (!panel.waitForFinished(3000))
                panel.kill();
            panel.waitForFinished(1000);
        }
    }
    // A real click at (x, y) logical pixels of the window's client area.
    void clickAt(int x_, int y_)
    {
        x.run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x_),
                QString::number(y_), QStringLiteral("click"), QStringLiteral("1")});
    }
};

TEST_F(RealPanel, ClickingPowerOnPutsC00AndACarriageReturnOnTheLine)
{
    // POWER "ON" is 615 x 300 twips at (120, 600) inside Frame1 at (120, 240).
    clickAt((240 + 615 / 2) / 15, (840 + 300 / 2) / 15);
    EXPECT_EQ(com1.read(3000, 4), "C00\r");
    EXPECT_EQ(com1.read(300), "") << "more than one line was sent";
}

} // namespace
