// What the Qt-free core asks of the user interface. The Qt program implements
// it; tests implement it with a recorder. The core holds at most one host and
// behaves sensibly without one (no messages shown, forms not found).
#pragma once

#include <string>

class IHostUi {
 public:
  virtual ~IHostUi() = default;
  // An information or error message box with a fixed text; returns once the
  // operator has closed it.
  virtual void MessageBox(const std::string& text) = 0;
  // Shows or hides the form whose title equals `name` ignoring case, opening
  // it from the program's folder when ShowForm finds none open. 1 on success,
  // 0 when the form cannot be found or has no view.
  virtual int ShowForm(const std::string& name) = 0;
  virtual int HideForm(const std::string& name) = 0;
};
