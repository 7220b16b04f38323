// Resource ids shared by the resource script and the code that loads them.
#pragma once

// The red cross comes first: Explorer shows the lowest icon group as the .exe's icon.
#define IDI_CROSS 1
#define IDI_COG 2
