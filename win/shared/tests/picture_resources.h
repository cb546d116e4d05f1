#pragma once
// Resource numbers shared by the test resource scripts and the picture tests.
#define ZT_TEST_WIZARD1_JPEG 161
#define ZT_TEST_WIZARD2_JPEG 159
#define ZT_TEST_WIZARD4_JPEG 160
#define ZT_TEST_QUADRANTS_JPEG 170
#define ZT_TEST_NOT_A_PICTURE 171
#define ZT_TEST_PAGE_MODULE_JPEG 300
