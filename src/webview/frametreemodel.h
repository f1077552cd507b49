#pragma once

#include "platform/corvidexport.h"

#include <QAbstractItemModel>
#include <memory>

// A read-only tree of a page's frames in the columns "Id / Name" and "URL", built from a text
// with one line per frame: leading spaces give the depth, tabs separate the columns, and empty
// columns are dropped (a frame without a name shows its address first).
class CORVID_EXPORT FrameTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit FrameTreeModel(const QString &description, QObject *parent = nullptr);
    ~FrameTreeModel() override;

    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;

private:
    class Item;

    Item *itemAt(const QModelIndex &index) const;
    void build(const QString &description);

    std::unique_ptr<Item> m_root;
};
