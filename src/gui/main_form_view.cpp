#include "gui/main_form_view.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTextStream>

#include "gui/desktop_art.h"

namespace pellan::gui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  m_pressed = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  m_pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click && onClick) onClick();
}

MainFormView::MainFormView(client::frmTLVFTP& form, bool trayAvailable)
    : m_form(form), m_model(form.Model()) {
  setObjectName("frmTLVFTP");
  setWindowIcon(ProgramIcon());
  setMinimumSize(460, 150);

  auto make = [this](const char* name) {
    auto* label = new ClickLabel(this);
    label->setObjectName(name);
    return label;
  };
  m_imgLogo = make("imgLogo");
  m_lblState = make("lblState");
  m_lblCurState = make("lblCurState");
  m_imgLogin = make("imgLogin");
  m_lblLogin = make("lblLogin");
  m_imgClose = make("imgClose");
  m_lblClose = make("lblClose");

  m_imgLogo->setPixmap(LogoPixmap(64));
  m_imgLogo->setFixedSize(64, 64);
  m_imgLogin->setPixmap(LoginPixmap(24));
  m_imgClose->setPixmap(ClosePixmap(24));
  m_lblState->setWordWrap(true);
  m_lblState->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_lblState->setTextFormat(Qt::PlainText);
  m_lblState->setMinimumHeight(2 * fontMetrics().height());
  m_lblCurState->setTextFormat(Qt::PlainText);
  QFont bold = m_lblCurState->font();
  bold.setBold(true);
  m_lblCurState->setFont(bold);
  for (ClickLabel* l : {m_imgLogin, m_lblLogin, m_imgClose, m_lblClose}) l->setCursor(Qt::PointingHandCursor);
  m_lblLogin->setTextFormat(Qt::PlainText);
  m_lblClose->setTextFormat(Qt::PlainText);
  m_lblLogin->setFont(bold);
  m_lblClose->setFont(bold);

  m_imgLogin->onClick = [this] { m_form.imgLogin_Click(); };
  m_lblLogin->onClick = [this] { m_form.lblLogin_Click(); };
  m_imgClose->onClick = [this] { m_form.imgClose_Click(); };
  m_lblClose->onClick = [this] { m_form.lblClose_Click(); };

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 10);
  grid->setHorizontalSpacing(14);
  grid->addWidget(m_imgLogo, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(m_lblState, 0, 1);
  grid->addWidget(m_lblCurState, 1, 1);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(0, 1);
  auto* controls = new QHBoxLayout;
  controls->addStretch(1);
  controls->addWidget(m_imgLogin);
  controls->addWidget(m_lblLogin);
  controls->addSpacing(24);
  controls->addWidget(m_imgClose);
  controls->addWidget(m_lblClose);
  grid->addLayout(controls, 2, 0, 1, 2);
  resize(520, 170);

  if (trayAvailable) {
    m_tray = new QSystemTrayIcon(ProgramIcon(), this);
    // No context menu: a right click does nothing.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger) TrayClicked(true);
      if (reason == QSystemTrayIcon::Context) TrayClicked(false);
    });
  }

  for (const char* name : {"caption", "lblState", "lblCurState", "lblLogin", "lblClose", "lblClose.colour", "tray"})
    ModelChanged(name);
  for (ClickLabel* l : {m_imgLogo, m_lblState, m_lblCurState, m_imgLogin, m_lblLogin, m_imgClose, m_lblClose})
    ModelChanged(l->objectName().toStdString());
  m_model.Observe([this](const std::string& what) { ModelChanged(what); });
  SyncWindow();
}

MainFormView::~MainFormView() {
  if (m_tray) m_tray->hide();
}

ClickLabel* MainFormView::Control(const std::string& name) const {
  return findChild<ClickLabel*>(Q(name), Qt::FindDirectChildrenOnly);
}

void MainFormView::TrayClicked(bool leftButton) {
  if (leftButton) {
    m_form.TrayLeftClick();
  } else {
    m_form.TrayRightClick();
  }
}

void MainFormView::ModelChanged(const std::string& what) {
  if (what == "window") {
    SyncWindow();
  } else if (what == "tray") {
    SyncTray();
  } else if (what == "caption") {
    setWindowTitle(Q(m_model.Caption()));
    Trace("caption " + windowTitle());
  } else if (what == "lblClose.colour") {
    SyncCloseColour();
  } else if (what == "layout") {
    if (layout()) layout()->activate();
  } else if (ClickLabel* label = Control(what)) {
    const client::Control& c = m_model.Get(what);
    if (label->pixmap().isNull()) label->setText(Q(c.text));
    label->setVisible(c.visible);
    label->setEnabled(c.enabled);
    if (label == m_lblState || label == m_lblCurState || label == m_lblLogin) Trace(Q(what) + " " + label->text());
    if (label == m_lblState) Shot();
  }
}

void MainFormView::SyncWindow() {
  const bool wasVisible = isVisible();
  m_syncing = true;
  if (!m_model.WindowShown()) {
    if (isVisible()) hide();
  } else {
    const bool onTopChanged = m_model.OnTop() != m_onTop;
    if (onTopChanged) {
      m_onTop = m_model.OnTop();
      setWindowFlag(Qt::WindowStaysOnTopHint, m_onTop);  // takes the window down; shown again below
    }
    if (m_model.Minimised()) {
      if (!isVisible() || !isMinimized()) showMinimized();
    } else if (!isVisible() || isMinimized() || onTopChanged) {
      showNormal();
    }
    if (m_model.FrontRequests() != m_frontRequests) {
      m_frontRequests = m_model.FrontRequests();
      raise();
      activateWindow();
    }
  }
  m_syncing = false;
  Trace(QString("window shown=%1 minimised=%2 ontop=%3 front=%4")
            .arg(isVisible())
            .arg(isMinimized())
            .arg(bool(windowFlags() & Qt::WindowStaysOnTopHint))
            .arg(m_frontRequests));
  if (!wasVisible) Shot();
}

void MainFormView::SyncTray() {
  if (m_tray) {
    m_tray->setToolTip(Q(m_model.TrayTip()));
    m_tray->setVisible(m_model.TrayIcon());
  }
  Trace(QString("tray icon=%1 available=%2 tip=%3")
            .arg(m_model.TrayIcon())
            .arg(m_tray != nullptr)
            .arg(Q(m_model.TrayTip())));
}

void MainFormView::SyncCloseColour() {
  const bool allowed = m_model.CloseLabelColour() == client::CloseColour::kExitAllowed;
  QPalette palette = m_lblClose->palette();
  const QColor colour = allowed ? QColor(128, 0, 0) : this->palette().color(QPalette::Light);
  palette.setColor(QPalette::WindowText, colour);
  m_lblClose->setPalette(palette);
  Trace(QString("lblClose colour=%1").arg(colour.name()));
}

void MainFormView::closeEvent(QCloseEvent* event) {
  event->accept();
  m_form.WindowClosed();
}

void MainFormView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !m_syncing && m_model.Minimised() != isMinimized()) {
    m_model.SetMinimised(isMinimized());
  }
}

void MainFormView::TraceInto(const QString& folder) {
  m_traceFolder = folder;
  QDir().mkpath(folder);
  Trace("trace started");
}

void MainFormView::Shot() {
  if (m_traceFolder.isEmpty() || !isVisible()) return;
  const QString name = QString("shot-%1.png").arg(++m_shots);
  grab().save(m_traceFolder + "/" + name);
  Trace("shot " + name);
}

void MainFormView::Trace(const QString& line) {
  if (m_traceFolder.isEmpty()) return;
  // A line that only repeats the last of its kind (the pass timer's status
  // five times a second, its hiding of a hidden window) is left out; for a
  // status line the time does not count.
  const QString kind = line.section(' ', 0, 0);
  QString content = line;
  if (kind == "lblState") content = line.section("] ", 1);
  QString& last = m_lastTraced[kind];
  if (last == content && !last.isEmpty()) return;
  last = content;
  QFile file(m_traceFolder + "/trace.txt");
  if (!file.open(QIODevice::Append | QIODevice::Text)) return;
  QTextStream out(&file);
  out << line << '\n';
}

}  // namespace pellan::gui
