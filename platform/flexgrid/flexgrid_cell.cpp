#include "flexgrid_cell.h"

#include <QBrush>
#include <QTableWidget>

namespace {

// A brush held as its colour alone: solid, of an RGB colour, untransformed.
bool isPlainColour(const QVariant& value) {
    if (value.userType() != QMetaType::QBrush)
        return false;
    const QBrush brush = value.value<QBrush>();
    return brush.style() == Qt::SolidPattern && brush.color().spec() == QColor::Rgb &&
           brush.transform().isIdentity();
}

} // namespace

QVariant FlexGridCell::data(int role) const {
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_hasText ? QVariant(m_text) : QTableWidgetItem::data(role);
    case Qt::ForegroundRole:
        return m_hasForeground ? QVariant(QBrush(QColor::fromRgba(m_foreground)))
                               : QTableWidgetItem::data(role);
    case Qt::TextAlignmentRole:
        if (m_alignmentType == AlignmentType::Int)
            return QVariant(m_alignment);
        if (m_alignmentType == AlignmentType::Flags)
            return QVariant::fromValue(Qt::Alignment::fromInt(m_alignment));
        return QTableWidgetItem::data(role);
    case kFlexAlignmentRole:
        return m_hasFlexAlignment ? QVariant(m_flexAlignment) : QTableWidgetItem::data(role);
    default:
        return QTableWidgetItem::data(role);
    }
}

void FlexGridCell::setData(int role, const QVariant& value) {
    // What the base class holds for a role stays there; only roles it has
    // never held are kept here.
    if (QTableWidgetItem::data(role == Qt::EditRole ? Qt::DisplayRole : role).isValid()) {
        QTableWidgetItem::setData(role, value);
        return;
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (value.userType() == QMetaType::QString) {
            if (m_hasText && m_text == value.toString())
                return;
            m_text = value.toString();
            m_hasText = true;
            changed(Qt::DisplayRole);
            return;
        }
        break;
    case Qt::ForegroundRole:
        if (isPlainColour(value)) {
            const QRgb colour = value.value<QBrush>().color().rgba();
            if (m_hasForeground && m_foreground == colour)
                return;
            m_foreground = colour;
            m_hasForeground = true;
            changed(role);
            return;
        }
        break;
    case Qt::TextAlignmentRole:
        if (value.userType() == QMetaType::Int || value.userType() == qMetaTypeId<Qt::Alignment>()) {
            const AlignmentType type =
                value.userType() == QMetaType::Int ? AlignmentType::Int : AlignmentType::Flags;
            const int alignment =
                type == AlignmentType::Int ? value.toInt() : value.value<Qt::Alignment>().toInt();
            if (m_alignmentType == type && m_alignment == alignment)
                return;
            m_alignment = alignment;
            m_alignmentType = type;
            changed(role);
            return;
        }
        break;
    case kFlexAlignmentRole:
        if (value.userType() == QMetaType::Int) {
            if (m_hasFlexAlignment && m_flexAlignment == value.toInt())
                return;
            m_flexAlignment = value.toInt();
            m_hasFlexAlignment = true;
            changed(role);
            return;
        }
        break;
    default:
        break;
    }
    // Any other value (one that takes the role away included) goes to the
    // base class; the field gives the role up.
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        m_hasText = false;
        m_text.clear();
        break;
    case Qt::ForegroundRole:
        m_hasForeground = false;
        break;
    case Qt::TextAlignmentRole:
        m_alignmentType = AlignmentType::None;
        break;
    case kFlexAlignmentRole:
        m_hasFlexAlignment = false;
        break;
    default:
        break;
    }
    QTableWidgetItem::setData(role, value);
}

void FlexGridCell::changed(int role) {
    QTableWidget* table = tableWidget();
    if (table == nullptr)
        return;
    const QModelIndex index = table->model()->index(row(), column());
    const QList<int> roles =
        role == Qt::DisplayRole ? QList<int>{Qt::DisplayRole, Qt::EditRole} : QList<int>{role};
    emit table->model()->dataChanged(index, index, roles);
}
