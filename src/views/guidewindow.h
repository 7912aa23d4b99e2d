// The user guide in a window of the program's own, so that it opens on any desktop, with or without
// a PDF viewer: the guide's HTML (the source the PDF is made from, with the same pictures) beside
// its contents, which jump to a chapter or section, and a find bar. The PDF stays for printing;
// the window offers it and leaves opening it to whoever owns the desktop's opener.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace ZovaZode {

class GuideWindow : public QWidget
{
    Q_OBJECT

public:
    static const QString HtmlName; // "user-guide.html", its pictures beside it
    static const QString PdfName;  // "MORV Manager User Guide.pdf"

    // The guide's folder: "guide" beside the executable (a build tree), else the installed one
    // under the data folder; the first of them when neither holds the guide.
    static QString folder();

    explicit GuideWindow(QWidget *parent = nullptr);

    // Shows the guide in `folder`; false, with the reason in errorText(), when its HTML cannot be
    // read.
    bool load(const QString &folder);
    bool isLoaded() const { return m_loaded; }
    QString errorText() const { return m_errorText; }

    // Finds the find field's text after the current place (before it, backwards), starting over
    // at the other end of the guide when it runs out; false, and says so, when it is nowhere.
    bool find(bool backwards = false);
    // Shows the find bar with its text selected, ready to type over.
    void showFindBar();

    QTextBrowser *browser() const { return m_browser; }
    QTreeWidget *contents() const { return m_contents; }
    QWidget *findBar() const { return m_findBar; }
    QLineEdit *findField() const { return m_findField; }
    QLabel *findStatus() const { return m_findStatus; }

signals:
    // "Open as PDF": the guide as a PDF, for printing.
    void openPdfRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The contents and the "Open as PDF" button beneath them.
    QWidget *buildSide();
    void buildFindBar();
    void addShortcuts();
    void fillContents();
    void showHeading(QTreeWidgetItem *item);
    void showFound(bool found);

    QTextBrowser *m_browser;
    QTreeWidget *m_contents;
    QWidget *m_findBar;
    QLineEdit *m_findField;
    QLabel *m_findStatus;
    bool m_loaded = false;
    QString m_errorText;
};

} // namespace ZovaZode
