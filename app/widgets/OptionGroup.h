#pragma once

// A captioned group of option buttons: the caption, the number of options and their captions,
// the selected option (1-based, 0 for none), horizontal or vertical arrangement, a flat or 3-D
// look and the caption's alignment.
//
// An option is chosen by a click (mouse or keyboard), by an assistive tool's toggle action (which
// toggles the button without a click) or by the program. selectionChanged reports every change
// of the selection, whoever made it; optionPicked a change the user made; optionActivated every
// choice of an option by the user, also of the option already selected.

#include <QGroupBox>
#include <QStringList>

class QAbstractButton;
class QButtonGroup;
class QBoxLayout;

class OptionGroup : public QGroupBox {
    Q_OBJECT
public:
    enum class Look { Flat, ThreeD };
    enum class ButtonStyle { Radio, Graphical };

    explicit OptionGroup(QWidget* parent = nullptr);
    OptionGroup(const QString& caption, const QStringList& options, QWidget* parent = nullptr);

    void setCaption(const QString& caption) { setTitle(caption); }
    QString caption() const { return title(); }

    // Replaces the options; the selection is cleared.
    void setOptions(const QStringList& captions);
    QStringList options() const { return m_captions; }
    int optionCount() const { return int(m_captions.size()); }
    // Changes the number of options, naming new ones "Option N".
    void setOptionCount(int count);

    // 1-based; 0 or a number out of range selects none.
    void setSelected(int option);
    int selected() const { return m_selected; }

    void setOrientation(Qt::Orientation orientation);
    Qt::Orientation orientation() const { return m_orientation; }

    void setLook(Look look);
    Look look() const { return m_look; }

    // Radio buttons, or buttons that stay pressed while selected.
    void setButtonStyle(ButtonStyle style);
    ButtonStyle buttonStyle() const { return m_style; }

    void setCaptionAlignment(Qt::Alignment alignment) { setAlignment(alignment); }
    Qt::Alignment captionAlignment() const { return alignment(); }

    QAbstractButton* button(int option) const;

signals:
    void optionPicked(int option);
    void selectionChanged(int option);
    void optionActivated(int option);

private:
    void rebuild();
    void buttonToggled(int id, bool checked);
    void buttonClicked(int id);

    QStringList m_captions;
    int m_selected = 0;
    Qt::Orientation m_orientation = Qt::Vertical;
    Look m_look = Look::ThreeD;
    ButtonStyle m_style = ButtonStyle::Radio;
    QButtonGroup* m_group = nullptr;
    QBoxLayout* m_layout = nullptr;
    bool m_updating = false;     // the group itself is setting the buttons
    int m_activatedByToggle = 0; // the click that follows a toggle is the same choice
};
