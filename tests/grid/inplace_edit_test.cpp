#include <QTest>
class T : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(T)
#include "inplace_edit_test.moc"
