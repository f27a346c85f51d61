#pragma once
// The patient list: a captioned group of radio buttons, each carrying an
// integer tag (the patient's number at the portal).
#include <QGroupBox>
#include <string>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

namespace quilora {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit RadioGroup(const QString& caption, QWidget* parent = nullptr);

    void Clear();
    void AddItem(const std::string& caption, int tag);
    int Count() const { return static_cast<int>(items_.size()); }
    int ItemIndex() const;        // -1 when none is selected
    void SetItemIndex(int index); // -1 clears the selection
    std::string Caption(int index) const;
    int Tag(int index) const;
    // Items are laid out row by row in this many columns.
    void SetColumns(int columns);

signals:
    // The choice changed, by the user or from code.
    void Changed();

private:
    struct Item {
        QRadioButton* button;
        int tag;
    };
    const Item& At(int index) const;
    void Relayout();

    QButtonGroup* group_;
    QGridLayout* grid_;
    std::vector<Item> items_;
    int columns_ = 4;
};

} // namespace quilora
