#include "Ondexa/app/AboutDialog.h"

#include "Ondexa/app/Updates.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/VendalumHeader.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QVBoxLayout>

namespace ondexa {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName("aboutDialog");
    setWindowTitle("A Vendalum névjegye");
    Theme::style(*this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(14);
    column->addWidget(new VendalumHeader(versionText(), this));
    auto* about = new QLabel("Képernyőfelvevő és többsávos szerkesztő.", this);
    about->setTextFormat(Qt::PlainText);
    column->addWidget(about);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutDialog::versionText()
{
    return QString("Verzió: %1 (%2)").arg(Updates::displayVersion(), Updates::version());
}

} // namespace ondexa
