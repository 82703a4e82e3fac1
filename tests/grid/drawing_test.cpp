#include <QTest>
class T : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(T)
#include "drawing_test.moc"
