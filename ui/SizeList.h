#pragma once
// The list of map sizes, in the settings window and the explorer alike.
#include <QComboBox>

namespace terralume::ui {

// Empty until addSizes. Qt 6.4's bridge gives a screen reader no value for
// a closed list, nor its changes: the size is the list's description, and
// each change is said.
QComboBox *newSizeList(QWidget *parent);

// The sizes, smallest first, the first chosen.
void addSizes(QComboBox *list);

} // namespace terralume::ui
