// Ids of tapdeck's dialog templates and their controls. Read by windres (the
// win32 build), by rcgen (the host build's template table) and by the pages.
// Plain #define lines only: every reader understands them.

// Dialog templates.
#define IDD_OPTIONS 101
#define IDD_HELP 102
#define IDD_ABOUT 103
#define IDD_SETTINGS 106
#define IDD_ADD_BUTTONS 108
#define IDD_ADD_INTERCEPT 109
#define IDD_ROTATE 110
#define IDD_TUNER 111

// Controls without an id of their own.
#define IDC_STATIC (-1)

// Every dialog: the input-panel preference control.
#define IDC_SIPPREF 1009

// Settings (106).
#define IDC_BUTTON_LIST 1012
#define IDC_SINGLE_PRESS 1013
#define IDC_PRESS_HOLD 1014
#define IDC_DOUBLE_PRESS 1015
#define IDC_DOUBLE_PRESS_LABEL 1016
#define IDC_PRESS_HOLD_LABEL 1017
#define IDC_SINGLE_PRESS_LABEL 1018
#define IDC_RECORD_NOTICE 1019
#define IDC_OVERRIDE 1020
#define IDC_DOUBLE_HOLD 1021
#define IDC_DOUBLE_HOLD_LABEL 1022
#define IDC_USER_BUTTON_LABEL 1032
#define IDC_TUNE_TIMING 1100

// Options (101).
#define IDC_DBLCLICK_SLIDER 1025
#define IDC_HOLD_SLIDER 1033
#define IDC_HOLD_MS 1039
#define IDC_DBLCLICK_MS 1040
#define IDC_NO_SETTINGS_NOTICE 1041
#define IDC_PRESS_NOTICE 1042

// About (103).
#define IDC_VERSION 1034

// Add Buttons (108) and Add Button Intercept (109).
#define IDC_ADD_BUTTON 1025
#define IDC_REMOVE_BUTTON 1026
#define IDC_INTERCEPT_NAME 1027
#define IDC_INTERCEPT_LINE 1030
#define IDC_INTERCEPT_NAME_LABEL 1031

// Rotate Screen (110).
#define IDC_ROTATE_0 1035
#define IDC_ROTATE_90 1036
#define IDC_ROTATE_180 1037
#define IDC_ROTATE_270 1038

// Tune Button Timing (111), opened from Settings: the comparison's rows
// each have a label, the intervals in force ("Now") and the proposal.
#define IDC_TUNER_BUTTON 1101
#define IDC_TUNER_PROMPT 1102
#define IDC_TUNER_NOTICE 1103
#define IDC_TUNER_ALL 1104
#define IDC_TUNER_RESTART 1105
#define IDC_TUNER_LABEL0 1110
#define IDC_TUNER_LABEL1 1111
#define IDC_TUNER_LABEL2 1112
#define IDC_TUNER_LABEL3 1113
#define IDC_TUNER_LABEL4 1114
#define IDC_TUNER_LABEL5 1115
#define IDC_TUNER_LABEL6 1116
#define IDC_TUNER_NOW0 1120
#define IDC_TUNER_NOW1 1121
#define IDC_TUNER_NOW2 1122
#define IDC_TUNER_NOW3 1123
#define IDC_TUNER_NOW4 1124
#define IDC_TUNER_NOW5 1125
#define IDC_TUNER_NOW6 1126
#define IDC_TUNER_NEXT0 1130
#define IDC_TUNER_NEXT1 1131
#define IDC_TUNER_NEXT2 1132
#define IDC_TUNER_NEXT3 1133
#define IDC_TUNER_NEXT4 1134
#define IDC_TUNER_NEXT5 1135
#define IDC_TUNER_NEXT6 1136
