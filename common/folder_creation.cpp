#include "common/folder_creation.h"

FolderCreateFunction FolderCreation = CreateDirectoryW;
