#include "split_method_panel.h"

#include "qt_text.h"

namespace tolvar {

SplitMethodPanel::SplitMethodPanel(QWidget* parent) : Panel("Frame3", parent) {
    lowerControlsBy((kOptionRowsHeight + kSizeForRowsHeight) / 2);
    Label3 = addLabel("Label3", T_("Choose the method you want to use to split the file:"),
                      {360, 480, 3855, 255});
    Command4 = addButton("Command4", T_("By &Size"), {360, 1200, 2295, 615});
    Command5 = addButton("Command5", T_("By &Number of Broken Files"), {2880, 1200, 2295, 615});
}

} // namespace tolvar
