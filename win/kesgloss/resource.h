#pragma once
#define IDS_GLOSSARY_FILE 1
