#include "assemble_panel.h"

#include "operations.h"
#include "qt_text.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tolvar {

AssemblePanel::AssemblePanel(PanelHost& panelHost, QWidget* parent)
    : WorkingPanel("Frame2", panelHost, parent) {
    lowerControlsBy((kOptionRowsHeight + kSizeForRowsHeight) / 2);
    // Two groups and a taller button over the same height as the split panels' three: the
    // groups lie further apart, each label still just above its box.
    Label4 = addLabel("Label4", T_("Choose a &file to assemble:"), {240, 360, 2055, 255});
    Text2 = addTextBox("Text2", true, {240, 600, 4695, 285});
    Command6 = addButton("Command6", QStringLiteral("..."), {5040, 615, 255, 255});
    Label10 = addLabel("Label10", T_("Choose &where to save the assembled file:"),
                       {240, 1140, 3015, 255});
    Text8 = addTextBox("Text8", true, {240, 1380, 4695, 285});
    Command13 = addButton("Command13", QStringLiteral("..."), {5040, 1395, 255, 255});
    Command3 = addButton("Command3", T_("&Assemble Files"), {240, 1920, 5055, 495});
    setActionButton(Command3);
    setPathBoxes({Text2, Text8});
    labelFor(Label4, Text2);
    labelFor(Label10, Text8);
    explain(Command6, T_("Choose the file to assemble"));
    explain(Command13, T_("Choose where to save the assembled file"));

    connect(Command6, &QPushButton::clicked, this, &AssemblePanel::Command6_Click);
    connect(Command13, &QPushButton::clicked, this, &AssemblePanel::Command13_Click);
    connect(Command3, &QPushButton::clicked, this, &AssemblePanel::Command3_Click);
}

void AssemblePanel::Command6_Click() {
    // Any broken file may be picked, as it may be dropped: it stands for its set's first part.
    const QString chosen = chooseFile(T_("000 Files (*.000)|*.000|All Files|*.*"),
                                      T_("Choose a file to assemble - Tolvar Files Splitter"));
    Text2->setText(chosen.isEmpty() ? chosen : host.firstPartOf(chosen));
}

void AssemblePanel::Command13_Click() {
    Text8->setText(
        choosePrefix(T_("Choose where to save the assembled file - Tolvar Files Splitter")));
}

void AssemblePanel::Command3_Click() {
    if (const Assembled assembled = host.AssembleFile(Text2->text())) {
        host.messageBox().inform(assembled.contentsChecked ? messages::kAssembleDone
                                                           : messages::kAssembledUnchecked);
        Text2->clear();
        Text8->clear();
    }
}

} // namespace tolvar
