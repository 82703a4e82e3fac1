#include <QTest>
class T : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(T)
#include "grid_formats_test.moc"
