#pragma once
// The About box: the padlock, the product's name and version, and OK.
class QDialog;
class QWidget;

inline constexpr char kAboutText[] = "TQ Keshlor v2.13";

QDialog* CreateAboutBox(QWidget* owner);
