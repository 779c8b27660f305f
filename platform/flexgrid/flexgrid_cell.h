#pragma once
// One cell of the grid. A QTableWidgetItem keeps every role it was given in a
// list of variants, some 400 bytes a cell once it has text, colour and
// alignment; this one keeps those roles in fields of its own (about a third
// of that) and leaves any other role to the base class.

#include <QTableWidgetItem>
#include <cstdint>

class FlexGridCell : public QTableWidgetItem {
public:
    // The role that holds the cell's alignment value as the grid numbers it.
    static constexpr int kFlexAlignmentRole = Qt::UserRole + 1;

    FlexGridCell() : QTableWidgetItem(UserType) {}
    QTableWidgetItem* clone() const override { return new FlexGridCell(*this); }
    QVariant data(int role) const override;
    void setData(int role, const QVariant& value) override;

private:
    // How the alignment was given: not at all, as an int, as Qt::Alignment.
    enum class AlignmentType : std::uint8_t { None, Int, Flags };
    // Tells the table that a role changed, as the base class does.
    void changed(int role);

    QString m_text;
    QRgb m_foreground = 0;
    int m_alignment = 0;
    int m_flexAlignment = 0;
    bool m_hasText = false;
    bool m_hasForeground = false;
    bool m_hasFlexAlignment = false;
    AlignmentType m_alignmentType = AlignmentType::None;
};
