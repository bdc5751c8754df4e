#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <array>

namespace lumeno {

// Which header fields the header log's lines carry: seven check boxes in the lines' fixed
// field order. "Done" only hides the window, so the choices last for the run; a window
// closed with its close control is gone with its choices.
class frmVisTxtSettings : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kFields = 7;
    frmVisTxtSettings();

    QCheckBox* Check1(int index) const { return check1_.at(index); }
    QPushButton* Command1() const { return command1_; }
    // Kept as the boxes change: the header log asks for every packet.
    bool Shows(int field) const { return shows_[field]; }
    bool ClosedByUser() const { return closedByUser_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* label1_;
    std::array<QCheckBox*, kFields> check1_{};
    std::array<bool, kFields> shows_{};
    QPushButton* command1_;
    bool closedByUser_ = false;
};

// The body view's settings: "Align rows" puts the same bytes on the same line of both boxes.
// "Done" only hides the window, as above.
class frmVisTxtBodySettings : public QWidget {
    Q_OBJECT

  public:
    frmVisTxtBodySettings();

    QCheckBox* chkAlignRows() const { return chkAlignRows_; }
    QPushButton* btnDone() const { return btnDone_; }
    bool ClosedByUser() const { return closedByUser_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QCheckBox* chkAlignRows_;
    QPushButton* btnDone_;
    bool closedByUser_ = false;
};

}  // namespace lumeno
