// The IPv4 address field: four octet boxes and an optional prefix box on one framed panel.
#pragma once

#include <QWidget>
#include <array>

class QFrame;
class QLabel;
class QLineEdit;

class TIPEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint8 IP1 READ IP1 WRITE SetIP1)
    Q_PROPERTY(quint8 IP2 READ IP2 WRITE SetIP2)
    Q_PROPERTY(quint8 IP3 READ IP3 WRITE SetIP3)
    Q_PROPERTY(quint8 IP4 READ IP4 WRITE SetIP4)
    Q_PROPERTY(int Mask READ Mask WRITE SetMask)
    Q_PROPERTY(bool DisplayMask READ DisplayMask WRITE SetDisplayMask)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QString Address READ Address)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)

  public:
    explicit TIPEdit(QWidget* parent = nullptr);
    ~TIPEdit() override;

    quint8 IP1() const { return OctetValue(1); }
    quint8 IP2() const { return OctetValue(2); }
    quint8 IP3() const { return OctetValue(3); }
    quint8 IP4() const { return OctetValue(4); }
    void SetIP1(quint8 value) { SetOctet(1, value); }
    void SetIP2(quint8 value) { SetOctet(2, value); }
    void SetIP3(quint8 value) { SetOctet(3, value); }
    void SetIP4(quint8 value) { SetOctet(4, value); }

    // The prefix length, 0..32; writes outside that range are clamped.
    int Mask() const;
    void SetMask(int value);

    bool DisplayMask() const { return FDisplayMask; }
    void SetDisplayMask(bool value);

    // The four box texts as they stand, joined with "."; the prefix is never part of it.
    QString Text() const;
    // Raises EConvertError, changing nothing, unless the text has four readable parts.
    void SetText(const QString& text);
    QString Address() const { return Text(); }

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);

    QLineEdit* OctetEdit(int i) const { return FOctetEdits.at(i - 1); }
    QLabel* Separator(int i) const { return FSeparators.at(i - 1); }
    QLineEdit* MaskEdit() const { return FMaskEdit; }
    QFrame* FramePanel() const { return FFramePanel; }
    // The area inside the panel's border that holds the boxes and labels.
    QWidget* ClientArea() const { return FClientArea; }

  signals:
    void OnChange();

  protected:
    virtual void NotifyChange();
    virtual void SoundBeep();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // Shared by the four octet boxes; each finds its box through the sender's "Tag".
    // A key press handler sets key to 0 to discard the character.
    void OctetKeyPress(QObject* sender, char16_t& key);
    void OctetKeyDown(QObject* sender, int key);
    void OctetChange(QObject* sender);
    void MaskKeyPress(QObject* sender, char16_t& key);
    void MaskKeyDown(QObject* sender, int key);
    void MaskChange(QObject* sender);
    void UpdateLayout();

  private:
    quint8 OctetValue(int i) const;
    void SetOctet(int i, quint8 value);
    QLineEdit* BoxOf(QObject* sender) const;
    // A program write: no change when the text is already there, else the caret ends at 0
    // with nothing selected and the box's change handler runs.
    void WriteBoxText(QLineEdit* box, const QString& text);
    void RunChangeHandler(QLineEdit* box);
    void FocusBox(QLineEdit* box);
    void FocusBoxAtEnd(QLineEdit* box);
    void FocusBoxAtStart(QLineEdit* box);
    QLineEdit* CreateBox(const QString& text, int maxLength, int tag);

    QFrame* FFramePanel = nullptr;
    QWidget* FClientArea = nullptr;
    std::array<QLabel*, 4> FSeparators{};
    std::array<QLineEdit*, 4> FOctetEdits{};
    QLineEdit* FMaskEdit = nullptr;
    bool FDisplayMask = false;
    bool FReadOnly = false;
};
