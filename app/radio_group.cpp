#include "app/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

#include "common/errors.h"

namespace quilora {

RadioGroup::RadioGroup(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)), grid_(new QGridLayout(this)) {
    group_->setExclusive(true);
    grid_->setContentsMargins(8, 4, 8, 4);
    grid_->setVerticalSpacing(2);
    grid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit Changed();
    });
}

void RadioGroup::Clear() {
    for (const Item& item : items_) {
        group_->removeButton(item.button);
        delete item.button; // owned by this group box
    }
    items_.clear();
    emit Changed();
}

void RadioGroup::AddItem(const std::string& caption, int tag) {
    auto* button = new QRadioButton(QString::fromStdString(caption), this);
    button->setObjectName(QStringLiteral("rgpUserItem%1").arg(items_.size()));
    group_->addButton(button, static_cast<int>(items_.size()));
    const int n = static_cast<int>(items_.size());
    grid_->addWidget(button, n / columns_, n % columns_);
    items_.push_back(Item{button, tag});
    button->show();
}

int RadioGroup::ItemIndex() const {
    return group_->checkedId();
}

void RadioGroup::SetItemIndex(int index) {
    if (index < 0) {
        // An exclusive group cannot uncheck its last button by itself.
        group_->setExclusive(false);
        for (const Item& item : items_)
            item.button->setChecked(false);
        group_->setExclusive(true);
        emit Changed();
        return;
    }
    At(index).button->setChecked(true);
}

std::string RadioGroup::Caption(int index) const {
    return At(index).button->text().toStdString();
}

int RadioGroup::Tag(int index) const {
    return At(index).tag;
}

void RadioGroup::SetColumns(int columns) {
    columns_ = columns < 1 ? 1 : columns;
    Relayout();
}

const RadioGroup::Item& RadioGroup::At(int index) const {
    if (index < 0 || index >= Count())
        throw QuiloraError("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<std::size_t>(index)];
}

void RadioGroup::Relayout() {
    for (const Item& item : items_)
        grid_->removeWidget(item.button);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const int n = static_cast<int>(i);
        grid_->addWidget(items_[i].button, n / columns_, n % columns_);
    }
}

} // namespace quilora
