// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The modal message box: a warning with one OK button and the application's
// title. It returns when the user has closed it.

#include <string_view>

class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void warning(std::string_view message) = 0;
};
