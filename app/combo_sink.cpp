#include "app/combo_sink.h"

#include <QComboBox>

#include "common/errors.h"

namespace quilora {
namespace {

bool IsTextObject(const QVariant& data) {
    return data.metaType() == QMetaType::fromType<TStringObject>();
}

void CheckIndex(const QComboBox& box, int index) {
    if (index < 0 || index >= box.count())
        throw QuiloraError("List index out of bounds (" + std::to_string(index) + ")");
}

// QComboBox selects the first entry added to an empty list by itself; here
// only SelectItem selects, so a fill that fails half-way leaves no selection.
void AddItem(QComboBox& box, const QString& text, const QVariant& data) {
    const bool none = box.currentIndex() < 0;
    box.addItem(text, data);
    if (none)
        box.setCurrentIndex(-1);
}

} // namespace

void ComboBoxSink::Clear() {
    box_.clear();
}
void ComboBoxSink::AddInteger(const std::string& text, int tag) {
    AddTaggedItem(box_, text, tag);
}
void ComboBoxSink::AddText(const std::string& text, const std::string& id) {
    AddTextItem(box_, text, id);
}
int ComboBoxSink::Count() const {
    return box_.count();
}
void ComboBoxSink::Select(int index) {
    SelectItem(box_, index);
}

void AddTaggedItem(QComboBox& box, const std::string& text, int tag) {
    AddItem(box, QString::fromStdString(text), tag);
}

void AddTextItem(QComboBox& box, const std::string& text, const std::string& id) {
    AddItem(box, QString::fromStdString(text), QVariant::fromValue(TStringObject{id}));
}

void SelectItem(QComboBox& box, int index) {
    box.setCurrentIndex(index);
}

int ItemTag(const QComboBox& box, int index) {
    CheckIndex(box, index);
    return box.itemData(index).toInt();
}

int SelectedTag(const QComboBox& box) {
    return ItemTag(box, box.currentIndex());
}

std::string ItemIdText(const QComboBox& box, int index) {
    CheckIndex(box, index);
    const QVariant data = box.itemData(index);
    return IsTextObject(data) ? data.value<TStringObject>().text : std::string();
}

std::string SelectedIdText(const QComboBox& box) {
    return ItemIdText(box, box.currentIndex());
}

std::string ItemText(const QComboBox& box, int index) {
    CheckIndex(box, index);
    return box.itemText(index).toStdString();
}

std::string SelectedText(const QComboBox& box) {
    return HasSelection(box) ? ItemText(box, box.currentIndex()) : "";
}

bool HasSelection(const QComboBox& box) {
    return box.currentIndex() >= 0;
}

int FindTag(const QComboBox& box, int tag) {
    for (int i = 0; i < box.count(); ++i) {
        const QVariant data = box.itemData(i);
        if (data.typeId() == QMetaType::Int && data.toInt() == tag)
            return i;
    }
    return -1;
}

int FindIdText(const QComboBox& box, const std::string& id) {
    for (int i = 0; i < box.count(); ++i) {
        const QVariant data = box.itemData(i);
        if (IsTextObject(data) && data.value<TStringObject>().text == id)
            return i;
    }
    return -1;
}

} // namespace quilora
