// The items of a list of the run (file list or category list) for a list
// view. The model shows the run's own vector: filling 50,000 items is one
// reset, and each item is decoded only when the view paints it.
#pragma once

#include "text/collation.h"

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace borvantel::app {

class ByteListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // `items` must outlive the model; FileName items are decoded as file names,
  // Text items as Windows-1250.
  ByteListModel(const std::vector<std::string>& items, text::TextKind kind, QObject* parent);

  // The items have changed.
  void reset();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  const std::vector<std::string>& items_;
  text::TextKind kind_;
};

}  // namespace borvantel::app
