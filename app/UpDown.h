// Up-down arrows bound to an edit: each arrow steps the number in the edit
// by the increment, within [Min, Max]. Typing into the edit is not limited.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class TUpDown : public QWidget
{
    Q_OBJECT

public:
    explicit TUpDown(QWidget *parent = nullptr);

    void SetRange(int min, int max);
    int Min() const { return m_min; }
    int Max() const { return m_max; }
    void SetIncrement(int increment) { m_increment = increment; }
    int Increment() const { return m_increment; }
    int Position() const { return m_position; }
    void SetPosition(int position);

    // The edit whose number the arrows step; the edit's Up and Down keys
    // step it as well.
    void SetAssociate(QLineEdit *edit);
    QLineEdit *Associate() const { return m_associate; }

    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

    void StepBy(int steps);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *m_up = nullptr;
    QToolButton *m_down = nullptr;
    QLineEdit *m_associate = nullptr;
    int m_min = 0;
    int m_max = 100;
    int m_increment = 1;
    int m_position = 0;
};
