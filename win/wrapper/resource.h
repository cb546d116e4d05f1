#pragma once
// Resource numbers of Duoflash that its code refers to.
#define IDS_PAYLOAD_ERROR 102

#define IDD_WIZARD1_OPENING 101
#define IDD_WIZARD2_SECOND_UPDATE 103
#define IDD_WIZARD3_NOT_UPDATE 104

#define IDC_WIZARD_TEXT1 1002
#define IDC_WIZARD_TEXT2 1003
