// The application's message boxes as real modal dialogs.
#pragma once

#include "uiface/MsgBox.h"

namespace zrq::frame {

class QtMessageBoxes : public zrq::ui::MessageBoxes {
 public:
  zrq::ui::MsgResult show(const zrq::ui::MsgRequest& request) override;
  void notify(const zrq::ui::MsgRequest& request, std::function<void()> closed) override;
};

}  // namespace zrq::frame
