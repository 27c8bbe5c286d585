// The skinned message box: one of five kinds, each with its own layout and
// title, showing a text and answering 1 for OK and 2 for close or cancel.
#pragma once

#include <functional>

#include "app/popup_wnd.h"

namespace sorvane::app {

class CMessageBox : public CPopUpWnd {
  public:
    enum Kind { kError = 0, kConfirm = 1, kInformation = 2, kWarning = 3, kQuestion = 4 };

    // Shows the box modally over `parent` and returns 1 (OK) or 2 (close, cancel).
    // `okText`, when given, names what the OK button does ("Deep scan").
    static int Show(int kind, QWidget* parent, const QString& text, const QString& okText = {});
    // Creates and shows the box without running it (the caller runs ShowModal and Destroy).
    static CMessageBox* Open(int kind, QWidget* parent, const QString& text, const QString& okText = {});

    // Layout file and title message of a kind; kinds 5 and above are errors.
    static QString LayoutOf(int kind);
    static QString TitleIdOf(int kind);

    // Answers every box without showing it while set (headless tests): the
    // function gets the kind and text and returns the answer. Null restores boxes.
    using AnswerHook = std::function<int(int kind, const QString& text)>;
    static void SetAnswerHook(AnswerHook hook);

    static constexpr int kWidth = 400;
    static constexpr int kHeight = 160;

  protected:
    CMessageBox(int kind, QString text, QString okText);
    void OnWindowInit() override;

  private:
    int kind_;
    QString text_;
    QString okText_;
};

}  // namespace sorvane::app
