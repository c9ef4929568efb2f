// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test doubles for the window side: a view that keeps every caption,
// visibility and text by control name, a message box that records its
// messages, and a window geometry with a settable screen.

#include <map>
#include <string>
#include <vector>

#include "core/message_box.h"
#include "core/view.h"
#include "core/window_geometry.h"

class RecordingView : public View {
public:
    void setCaption(std::string_view control, std::string_view text) override
    {
        captions_[std::string(control)] = text;
        log_.push_back(std::string(control) + ".Caption=" + std::string(text));
    }
    void setVisible(std::string_view control, bool visible) override
    {
        visible_[std::string(control)] = visible;
    }
    std::string text(std::string_view control) const override
    {
        const auto found = texts_.find(std::string(control));
        return found == texts_.end() ? std::string() : found->second;
    }
    void setText(std::string_view control, std::string_view text) override
    {
        texts_[std::string(control)] = text;
    }
    void setSelected(std::string_view control) override { selected_.emplace_back(control); }
    void setLineState(std::string_view state) override { lineState_ = state; }
    const std::string &lineState() const { return lineState_; }

    std::string caption(const std::string &control) const
    {
        const auto found = captions_.find(control);
        return found == captions_.end() ? std::string() : found->second;
    }
    // Controls start as the window's design has them; only Frame8 and
    // Command34 start hidden.
    bool visible(const std::string &control) const
    {
        const auto found = visible_.find(control);
        if (found != visible_.end())
            return found->second;
        return control != "Frame8" && control != "Command34";
    }
    const std::vector<std::string> &selected() const { return selected_; }
    const std::vector<std::string> &log() const { return log_; }
    void clearLog() { log_.clear(); }

private:
    std::map<std::string, std::string> captions_;
    std::map<std::string, bool> visible_;
    std::map<std::string, std::string> texts_;
    std::vector<std::string> selected_;
    std::vector<std::string> log_;
    std::string lineState_;
};

class RecordingMessageBox : public MessageBox {
public:
    void warning(std::string_view message) override { messages.emplace_back(message); }
    void lineWarning(std::string_view message) override
    {
        messages.emplace_back(message);
        lineBoxOpen = true;
    }
    void lineBack() override { lineBoxOpen = false; }
    std::vector<std::string> messages;
    bool lineBoxOpen = false; // a line warning that the line's return has not closed yet
};

class FakeWindow : public WindowGeometry {
public:
    float width() const override { return width_; }
    float height() const override { return height_; }
    void setLeft(float twips) override
    {
        left_ = twips;
        log.push_back("Left=" + std::to_string(static_cast<int>(twips)));
    }
    void setTop(float twips) override
    {
        top_ = twips;
        log.push_back("Top=" + std::to_string(static_cast<int>(twips)));
    }
    void setHeight(float twips) override
    {
        height_ = twips;
        log.push_back("Height=" + std::to_string(static_cast<int>(twips)));
    }
    float screenWidth() const override { return screenWidth_; }
    float screenHeight() const override { return screenHeight_; }

    float left() const { return left_; }
    float top() const { return top_; }
    void setScreen(float width, float height)
    {
        screenWidth_ = width;
        screenHeight_ = height;
    }
    std::vector<std::string> log;

private:
    float width_ = 9495.0F;
    float height_ = 9100.0F;
    float left_ = 0.0F;
    float top_ = 0.0F;
    float screenWidth_ = 19200.0F; // 1280 x 1024 pixels
    float screenHeight_ = 15360.0F;
};
