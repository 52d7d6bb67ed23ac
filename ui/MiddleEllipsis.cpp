#include "ui/MiddleEllipsis.h"

#include <gtk/gtk.h>
#include <wx/listbox.h>

void EllipsizeLinesInTheMiddle(wxListBox* list)
{
    GtkTreeView* view = list->m_treeview;
    if (!view)
        return;
    GList* columns = gtk_tree_view_get_columns(view);
    for (GList* c = columns; c; c = c->next)
    {
        auto* column = GTK_TREE_VIEW_COLUMN(c->data);
        // The column takes the list's width rather than its longest line's, so there is
        // something to ellipsize against.
        gtk_tree_view_column_set_expand(column, TRUE);
        // Fixed sizing, which the fixed row height below needs: the column's width is never
        // measured from its lines.
        gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        for (GList* cell = cells; cell; cell = cell->next)
            if (GTK_IS_CELL_RENDERER_TEXT(cell->data))
                g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_MIDDLE, nullptr);
        g_list_free(cells);
    }
    g_list_free(columns);
    // Every line is one line of text: GTK measures the first and takes its height for all,
    // instead of measuring each line before the list shows, which made a start with a
    // thousand remembered downloads a tenth of a second slower.
    gtk_tree_view_set_fixed_height_mode(view, TRUE);
}
