#include "app/byte_list_model.h"

#include "app/qt_text.h"

namespace borvantel::app {

ByteListModel::ByteListModel(const std::vector<std::string>& items, text::TextKind kind, QObject* parent)
    : QAbstractListModel(parent), items_(items), kind_(kind) {}

void ByteListModel::reset() {
  beginResetModel();
  endResetModel();
}

int ByteListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant ByteListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= items_.size()) return {};
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole) return {};
  const std::string& item = items_[static_cast<size_t>(index.row())];
  return kind_ == text::TextKind::FileName ? fromFileName(item) : fromCp1250(item);
}

}  // namespace borvantel::app
