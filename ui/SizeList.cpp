#include "SizeList.h"

#include "Generator.h"
#include "SpokenNotice.h"

namespace terralume::ui {

QComboBox *newSizeList(QWidget *parent)
{
    auto *list = new QComboBox(parent);
    list->setEditable(false);
    auto *notice = new SpokenNotice(parent);
    QObject::connect(list, &QComboBox::currentTextChanged, list, [list, notice](const QString &size) {
        list->setAccessibleDescription(size);
        notice->say(size);
    });
    return list;
}

void addSizes(QComboBox *list)
{
    for (const WorldSize &size : kWorldSizes)
        list->addItem(QString::fromLatin1(size.name));
    list->setCurrentIndex(0);
}

} // namespace terralume::ui
