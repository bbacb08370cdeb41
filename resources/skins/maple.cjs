/* Maple: a warm, light skin for Brisquet.
   To use it, copy this file into a folder named "x" beside the brisquet
   program and name the copy "o.cjs" (the README says where that is).
   A skin is a Qt style sheet in UTF-8; any Qt style sheet works. */

QWidget {
    background-color: #f4ede1;
    color: #3b2a1e;
    font-family: "Liberation Sans", Arial, sans-serif;
}

QGroupBox {
    color: #8a5a33;
}

QLineEdit {
    background-color: #fffaf2;
    color: #2a1d14;
    border: 1px solid #c8ad8c;
    border-radius: 3px;
    padding: 2px 6px;
    selection-background-color: #b3703c;
    selection-color: #ffffff;
}

QLineEdit:focus {
    border-color: #b3703c;
}

QRadioButton::indicator {
    width: 12px;
    height: 12px;
    border: 1px solid #8a5a33;
    border-radius: 7px;
    background-color: #fffaf2;
}

QRadioButton::indicator:checked {
    background-color: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
                                      stop: 0 #b3703c, stop: 0.5 #b3703c, stop: 0.6 #fffaf2);
}

QRadioButton:focus {
    color: #b3703c;
}

QPushButton {
    background-color: #8a5a33;
    color: #ffffff;
    border: none;
    border-radius: 4px;
}

QPushButton:hover {
    background-color: #9e6a3f;
}

QPushButton:pressed {
    background-color: #6f4627;
}

QPushButton:focus {
    border: 2px solid #e0b080;
}

QLabel {
    color: #8a5a33;
    background: transparent;
}
