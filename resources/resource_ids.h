// Control ids shared by the dialog templates and the code.
#pragma once

#define IDC_MENU_BUTTON1 1000
#define IDC_MENU_BUTTON9 1008
#define IDC_FILE_BAR 1010
#define IDC_FILE_NAME 1012
#define IDC_TOTAL_BAR 1019
#define IDC_ANIMATION 1020
#define IDC_PATH_EDIT 1000
#define IDC_BROWSE 1021
#define IDC_CHECK 1007
