/* Resource identifiers of setup.exe, shared by setup.rc and the window code (plain C macros: windres
   reads this file too). */
#ifndef TARVIN_RESOURCE_IDS_H
#define TARVIN_RESOURCE_IDS_H

/* The application icon, also the setup window's icon: 32 x 32 and 16 x 16, 16 colours. */
#define IDI_APPLICATION_ICON 1
/* Image2 in the title strip: 32 x 32, 256 colours. */
#define IDI_TITLE_STRIP 101
/* Command4, the picture button: 32 x 32, 256 colours. */
#define IDI_PICTURE_BUTTON 102
/* Image3, the bottom picture: JPEG 410 x 274 (RCDATA). */
#define IDR_BOTTOM_PICTURE 201
/* Image1, the left picture strip: JPEG 90 x 303 (RCDATA). */
#define IDR_LEFT_PICTURE 202
/* The SHA-256 and size of each payload file, on media made for shipping (RCDATA; see ARCHITECTURE.md). */
#define IDR_PAYLOAD_LIST 301

#endif
