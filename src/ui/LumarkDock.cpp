#include "ui/LumarkDock.h"

#include <QLabel>
#include <QVBoxLayout>

LumarkDock::LumarkDock(QWidget *parent) : QWidget(parent)
{
	setObjectName("lumarkDock");
	auto *layout = new QVBoxLayout(this);
	layout->addWidget(new QLabel(QStringLiteral("Lumark Button"), this));
}

QSize LumarkDock::sizeHint() const
{
	return QSize(320, 480);
}

void LumarkDock::layoutOnce() {}
