#pragma once
// Drop-down lists whose entries carry the portal's identifiers: an integer tag
// in Qt::UserRole, or, for the card-type list, a TStringObject with an
// identifier text. Selecting from code never runs a change handler: the
// window connects its handlers to QComboBox::activated, which only the user's
// choice emits.
#include <QMetaType>
#include <string>

#include "common/database.h"

class QComboBox;

namespace quilora {

struct TStringObject {
    std::string text; // the card type's identifier, at most 50 GBK bytes
};

// Lets FillCombo / FillComboText fill a QComboBox.
class ComboBoxSink : public db::ComboSink {
public:
    explicit ComboBoxSink(QComboBox& box) : box_(box) {}
    void Clear() override;
    void AddInteger(const std::string& text, int tag) override;
    void AddText(const std::string& text, const std::string& id) override;
    int Count() const override;
    void Select(int index) override;

private:
    QComboBox& box_;
};

void AddTaggedItem(QComboBox& box, const std::string& text, int tag);
void AddTextItem(QComboBox& box, const std::string& text, const std::string& id);
// Selects from code (no change handler); -1 selects nothing.
void SelectItem(QComboBox& box, int index);

// The tag of an entry; index out of range throws QuiloraError
// "List index out of bounds (n)", as a list without selection does.
int ItemTag(const QComboBox& box, int index);
int SelectedTag(const QComboBox& box);
// The identifier text of a TStringObject entry ("" for an entry without one).
std::string ItemIdText(const QComboBox& box, int index);
std::string SelectedIdText(const QComboBox& box);
std::string ItemText(const QComboBox& box, int index);
std::string SelectedText(const QComboBox& box); // "" without selection
bool HasSelection(const QComboBox& box);

// First entry whose tag / identifier text equals the value; -1 when none.
int FindTag(const QComboBox& box, int tag);
int FindIdText(const QComboBox& box, const std::string& id);

} // namespace quilora

Q_DECLARE_METATYPE(quilora::TStringObject)
