#include <QTest>
class T : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(T)
#include "column_model_test.moc"
