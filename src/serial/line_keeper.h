#pragma once
// What becomes of the port once it has closed by itself: the panel waits for
// the line and opens it again, with no box and no restart, and tells the user
// once per outage what happened and what it is doing about it. The one place
// that decides open, lost, waiting and open again, for every kind of line.

#include <cstdint>
#include <optional>
#include <string>

#include "serial/serial_control.h"

class MessageBox;
class Timer;
class View;

class LineKeeper {
public:
    // Closed: by a failed port choice or END; only a port choice opens it.
    // Connecting: open, but a network connection is still being made.
    // Waiting: the line was lost or never came up; reopened when it is back.
    enum class Phase { Closed, Open, Connecting, Waiting };

    LineKeeper(SerialControl &MSComm1, View &view, MessageBox &messageBox, Timer &reopenTimer);

    // The port was opened by start-up or a port choice.
    void opened();
    // Start-up could not open the port: the panel waits for it. Returns the
    // warning to show once the window is up.
    std::string startupFailed(const std::string &description);
    // The port is closed and stays so until a port choice: a failed choice, END.
    void closed();
    // A port choice is about to run: whatever was being waited for is over.
    void choosing();
    // Handles the control's line events; false for any other event kind.
    bool onComm(std::int16_t event);
    void reopenTimer_Timer();
    // A command could not be written: the box that says why, the first time
    // in an outage; nothing after that.
    std::optional<std::string> notSentWarning(const std::string &description);

    Phase phase() const { return phase_; }

private:
    void startWaiting(const std::string &reason);
    void stopWaiting();
    void tryReopen();
    void scheduleNextTry();
    void openedOrConnecting();
    void cameBack();
    // The outage has been told, so a try that fails is not told again.
    bool outageTold() const { return inOutage_ && !outageReason_.empty(); }
    std::string whatThePanelDoes() const;

    SerialControl &MSComm1_;
    View &view_;
    MessageBox &messageBox_;
    Timer &reopenTimer_;
    Phase phase_ = Phase::Closed;
    bool inOutage_ = false;   // since the line went down, until it is up again
    bool notSentTold_ = false;
    bool settling_ = false;  // a network line just came back and may drop again at once
    bool afterLoss_ = false; // the outage began with a lost line, not a failed opening
    std::string outageReason_;
    int tries_ = 0;
};
