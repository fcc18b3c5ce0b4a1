#ifndef MYITEMDRAWER_H
#define MYITEMDRAWER_H

#include <QPixmap>
#include <QStyledItemDelegate>

// Draws what lies beneath a monitor-log row widget: the selection highlight
// and the archive icon at the left end. Every row is 30 pixels high and its
// row widget covers the whole row.
class MyItemDrawer : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit MyItemDrawer(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

private:
    QPixmap m_icon;
};

#endif // MYITEMDRAWER_H
