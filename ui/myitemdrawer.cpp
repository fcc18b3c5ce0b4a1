#include "myitemdrawer.h"

#include <QPainter>

MyItemDrawer::MyItemDrawer(QObject *parent)
    : QStyledItemDelegate(parent)
{
    // Decoded once here; paint only scales the held pixmap.
    m_icon.load(QStringLiteral(":/Vesper/Resources/winrar.png"));
}

// The row widget shows the text, so the base paint is skipped on purpose:
// no style-drawn selection, focus frame or hover effect.
void MyItemDrawer::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &) const
{
    const QRect r = option.rect.adjusted(1, 1, -1, -1);
    if (option.state & QStyle::State_Selected) {
        painter->setBrush(QBrush(QColor(219, 207, 202, 180), Qt::SolidPattern));
        painter->drawRoundedRect(r, 2.0, 2.0, Qt::AbsoluteSize);
    }

    QRect iconColumn = r;
    iconColumn.setRight(r.left() + 30);
    QRect iconRect(3, 3, 30, 30);
    iconRect.moveCenter(iconColumn.center());
    painter->drawPixmap(iconRect, m_icon);
}

QSize MyItemDrawer::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(30);
    return size;
}

// The view places every index widget, row widgets included, through here.
void MyItemDrawer::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                        const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
